#include "PendingUploadsModel.h"

#include "ScreenText.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

bool contains(const QList<PendingUpload>& uploads, const QString& folder)
{
    return std::any_of(uploads.begin(), uploads.end(), [&](const PendingUpload& u) { return u.folder == folder; });
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

void PendingUploadsModel::setLibrary(RecordingLibrary* library)
{
    if (library == m_library)
        return;
    disconnect(m_libraryConnection);
    m_library = library;
    if (library)
        m_libraryConnection = connect(library, &RecordingLibrary::cardsChanged, this, &PendingUploadsModel::sync);
    sync();
    emit libraryChanged();
}

void PendingUploadsModel::sync()
{
    const QList<PendingUpload> next = m_library ? m_library->cards() : QList<PendingUpload>();
    const qsizetype before = m_uploads.size();

    for (qsizetype i = m_uploads.size() - 1; i >= 0; --i) {
        if (!contains(next, m_uploads[i].folder)) {
            beginRemoveRows({}, int(i), int(i));
            m_uploads.removeAt(i);
            endRemoveRows();
        }
    }
    // The library only prepends and removes, so the remaining cards keep their order.
    for (qsizetype i = 0; i < next.size(); ++i) {
        if (i < m_uploads.size() && m_uploads[i].folder == next[i].folder)
            continue;
        if (contains(m_uploads, next[i].folder)) {
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
    case FolderRole:
        return upload.folder;
    case TitleRole:
        return upload.displayName();
    case SourceLineRole:
        // Another account's recording says whose it is instead.
        if (!upload.ownerEmail.isEmpty())
            return u"Recorded as %1 · sign in to that account to upload it"_s.arg(upload.ownerEmail);
        return ScreenText::processingSourceLine(upload.startedAt);
    case LengthRole:
        return ScreenText::recordingLength(upload.duration).toUpper();
    case StatusRole:
        return upload.ownerEmail.isEmpty() ? upload.status.label().toUpper() : QString();
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
        { FolderRole, "folder" },
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
