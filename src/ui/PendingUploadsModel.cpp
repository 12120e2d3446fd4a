#include "PendingUploadsModel.h"

#include "ScreenText.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

bool contains(const QList<PendingUpload>& uploads, const QUuid& id)
{
    return std::any_of(uploads.begin(), uploads.end(), [&](const PendingUpload& u) { return u.id == id; });
}

}

PendingUploadsModel::PendingUploadsModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

QString PendingUploadsModel::symbolFor(const UploadStatus& status)
{
    switch (status.stage()) {
    case UploadStatus::Transcribing:
        return u"text.bubble"_s;
    case UploadStatus::GeneratingNotes:
        return u"sparkles"_s;
    default:
        return u"arrow.up.circle"_s;
    }
}

void PendingUploadsModel::setStore(MeetingStore* store)
{
    if (store == m_store)
        return;
    disconnect(m_storeConnection);
    m_store = store;
    if (store)
        m_storeConnection = connect(store, &MeetingStore::pendingUploadsChanged, this, &PendingUploadsModel::sync);
    sync();
    emit storeChanged();
}

void PendingUploadsModel::sync()
{
    const QList<PendingUpload> next = m_store ? m_store->pendingUploads() : QList<PendingUpload>();
    const qsizetype before = m_uploads.size();

    for (qsizetype i = m_uploads.size() - 1; i >= 0; --i) {
        if (!contains(next, m_uploads[i].id)) {
            beginRemoveRows({}, int(i), int(i));
            m_uploads.removeAt(i);
            endRemoveRows();
        }
    }
    // The store only prepends and removes, so the remaining cards keep their order.
    for (qsizetype i = 0; i < next.size(); ++i) {
        if (i < m_uploads.size() && m_uploads[i].id == next[i].id)
            continue;
        if (contains(m_uploads, next[i].id)) {
            beginResetModel();
            m_uploads = next;
            endResetModel();
            break;
        }
        beginInsertRows({}, int(i), int(i));
        m_uploads.insert(i, next[i]);
        endInsertRows();
    }
    for (qsizetype i = 0; i < m_uploads.size(); ++i) {
        if (!(m_uploads[i] == next[i])) {
            m_uploads[i] = next[i];
            emit dataChanged(index(int(i)), index(int(i)));
        }
    }
    if (m_uploads.size() != before)
        emit countChanged();
}

void PendingUploadsModel::dismiss(const QString& uploadId)
{
    if (m_store)
        m_store->removePendingUpload(QUuid(uploadId));
}

void PendingUploadsModel::retry(const QString& uploadId)
{
    if (m_store)
        m_store->retryPendingUpload(QUuid(uploadId));
}

void PendingUploadsModel::discard(const QString& uploadId, bool keepFiles)
{
    if (m_store)
        m_store->discardPendingUpload(QUuid(uploadId), keepFiles);
}

void PendingUploadsModel::viewTranscript(const QString& uploadId)
{
    if (!m_store)
        return;
    const std::optional<PendingUpload> upload = m_store->pendingUpload(QUuid(uploadId));
    m_store->removePendingUpload(QUuid(uploadId));
    if (upload)
        m_store->setNavigateToMeetingId(upload->noteId);
}

int PendingUploadsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_uploads.size());
}

QVariant PendingUploadsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_uploads.size())
        return {};
    const PendingUpload& upload = m_uploads[index.row()];
    switch (role) {
    case UploadIdRole:
        return upload.id.toString(QUuid::WithoutBraces);
    case TitleRole:
        return upload.displayName();
    case SourceLineRole:
        return ScreenText::processingSourceLine(upload.startedAt);
    case LengthRole:
        return ScreenText::recordingLength(upload.duration).toUpper();
    case StatusRole:
        return upload.status.label().toUpper();
    case SymbolRole:
        return symbolFor(upload.status);
    case IsDoneRole:
        return upload.status.stage() == UploadStatus::Done;
    case IsFailedRole:
        return upload.status.stage() == UploadStatus::Failed;
    case HasFilesRole:
        return !upload.folder.isEmpty();
    case ProgressRole: {
        const bool sending = upload.status.stage() == UploadStatus::Uploading
            || upload.status.stage() == UploadStatus::WaitingForNetwork;
        return sending && upload.progress ? *upload.progress : -1.0;
    }
    }
    return {};
}

QHash<int, QByteArray> PendingUploadsModel::roleNames() const
{
    return {
        { UploadIdRole, "uploadId" },
        { TitleRole, "title" },
        { SourceLineRole, "sourceLine" },
        { LengthRole, "length" },
        { StatusRole, "status" },
        { SymbolRole, "symbol" },
        { IsDoneRole, "isDone" },
        { IsFailedRole, "isFailed" },
        { ProgressRole, "progress" },
        { HasFilesRole, "hasFiles" },
    };
}
