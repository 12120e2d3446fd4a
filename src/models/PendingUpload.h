#pragma once

#include "UploadStatus.h"

#include <QDateTime>
#include <QString>

#include <optional>

// A stopped recording that is not a note yet; its session journal keeps it across runs.
struct PendingUpload {
    // The session folder (absolute): the card's key.
    QString folder;
    QString fileName;
    // Set when the recording is another account's: the card says whose it is and offers no upload.
    QString ownerEmail;
    // 0…1 of both tracks' bytes sent, once an upload has begun.
    std::optional<double> progress;
    double duration = 0;
    QDateTime startedAt;
    UploadStatus status = UploadStatus::uploading();
    std::optional<qint64> noteId;

    // The card's title: the folder name without file and folder decorations.
    [[nodiscard]] QString displayName() const;
    bool operator==(const PendingUpload&) const = default;
};
