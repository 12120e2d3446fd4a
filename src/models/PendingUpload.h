#pragma once

#include "UploadStatus.h"

#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>

// A stopped recording that is not a note yet; kept in memory only.
struct PendingUpload {
    QUuid id;
    QString fileName;
    double duration = 0;
    QDateTime startedAt;
    UploadStatus status = UploadStatus::uploading();
    std::optional<qint64> noteId;

    // The card's title: the folder name without file and folder decorations.
    [[nodiscard]] QString displayName() const;
    bool operator==(const PendingUpload &) const = default;
};
