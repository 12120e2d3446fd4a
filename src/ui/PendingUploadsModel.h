#pragma once

#include "PendingUpload.h"
#include "RecordingLibrary.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// The processing cards: the recording library's sessions on their way to a
// note, newest first, with the texts and symbol each card shows. A stage change updates its card
// in place, so the card's sweeping band keeps running.
class PendingUploadsModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(RecordingLibrary* library READ library WRITE setLibrary NOTIFY libraryChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        FolderRole = Qt::UserRole + 1,
        TitleRole,
        SourceLineRole,
        LengthRole,
        StatusRole,
        SymbolRole,
        IsDoneRole,
        IsFailedRole,
        // 0…1 of both tracks sent while the upload runs; -1 when there is nothing to show.
        ProgressRole,
        HasFilesRole,
    };

    explicit PendingUploadsModel(QObject* parent = nullptr);

    // The badge's symbol for a stage.
    [[nodiscard]] static QString symbolFor(const UploadStatus& status);

    [[nodiscard]] RecordingLibrary* library() const { return m_library; }
    void setLibrary(RecordingLibrary* library);
    [[nodiscard]] int count() const { return int(m_uploads.size()); }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

signals:
    void libraryChanged();
    void countChanged();

private:
    void sync();

    QPointer<RecordingLibrary> m_library;
    QMetaObject::Connection m_libraryConnection;
    QList<PendingUpload> m_uploads;
};
