#pragma once

#include "MeetingStore.h"
#include "PendingUpload.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// The processing cards: the meeting store's pending uploads, newest first,
// with the texts and symbol each card shows. A stage change updates its card
// in place, so the card's sweeping band keeps running.
class PendingUploadsModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(MeetingStore* store READ store WRITE setStore NOTIFY storeChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        UploadIdRole = Qt::UserRole + 1,
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

    [[nodiscard]] MeetingStore* store() const { return m_store; }
    void setStore(MeetingStore* store);
    [[nodiscard]] int count() const { return int(m_uploads.size()); }

    // "✕": the card goes away.
    Q_INVOKABLE void dismiss(const QString& uploadId);
    // "Retry" on a failed card.
    Q_INVOKABLE void retry(const QString& uploadId);
    // "✕" on a failed card, once the user said whether to keep the recording's files.
    Q_INVOKABLE void discard(const QString& uploadId, bool keepFiles);
    // "VIEW TRANSCRIPT →": the card goes away and the main view opens its note.
    Q_INVOKABLE void viewTranscript(const QString& uploadId);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

signals:
    void storeChanged();
    void countChanged();

private:
    void sync();

    QPointer<MeetingStore> m_store;
    QMetaObject::Connection m_storeConnection;
    QList<PendingUpload> m_uploads;
};
