#include "MeetingStore.h"

#include "Endpoints.h"
#include "Log.h"

#include <QCoroTimer>
#include <QPointer>
#include <QUrlQuery>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

struct ListResponse {
    std::optional<bool> success;
    std::optional<QList<MeetingNote>> data;
    static ListResponse fromJson(const Json::ObjectReader& r)
    {
        return { r.optional<bool>("success"_L1), r.optional<QList<MeetingNote>>("data"_L1) };
    }
};

struct DetailResponse {
    std::optional<bool> success;
    std::optional<MeetingNoteDetail> data;
    static DetailResponse fromJson(const Json::ObjectReader& r)
    {
        return { r.optional<bool>("success"_L1), r.optional<MeetingNoteDetail>("data"_L1) };
    }
};

struct Body {
    bool done;
    QJsonObject toJson() const { return QJsonObject { { u"done"_s, done } }; }
};

struct Resp {
    std::optional<bool> success;
    static Resp fromJson(const Json::ObjectReader& r) { return { r.optional<bool>("success"_L1) }; }
};

}

MeetingStore::MeetingStore(TokenProvider tokens, Timings timings, QObject* parent)
    : QObject(parent)
    , m_tokens(std::move(tokens))
    , m_timings(timings)
{
}

QCoro::Task<> MeetingStore::loadMeetings()
{
    QPointer self(this);
    setLoading(true);
    setError(std::nullopt);
    const QUrl url = Endpoints::url(u"/api/v2/meeting-notes"_s);
    Log::line(u"[MeetingStore] loadMeetings: fetching from "_s + url.toString());
    try {
        const ListResponse reply = co_await APIClient::shared().get<ListResponse>(url, m_tokens());
        if (!self)
            co_return;
        QList<MeetingNote> notes = reply.data.value_or(QList<MeetingNote>());
        Log::line(u"[MeetingStore] notes: %1 items (telegram+desktop merged)"_s.arg(notes.size()));
        std::stable_sort(notes.begin(), notes.end(),
            [](const MeetingNote& a, const MeetingNote& b) { return a.createdDateTime > b.createdDateTime; });
        m_meetings = notes;
        emit meetingsChanged();
    } catch (const EQAPIError& e) {
        if (!self)
            co_return;
        Log::line(u"[MeetingStore] notes fetch failed: "_s + e.printed());
    }
    Log::line(u"[MeetingStore] loadMeetings: total=%1 meetings"_s.arg(m_meetings.size()));
    setLoading(false);
}

QString MeetingStore::sourceOf(qint64 noteId) const
{
    for (const MeetingNote& n : m_meetings)
        if (n.id == noteId)
            return n.source.value_or(u"desktop"_s);
    return u"desktop"_s;
}

QCoro::Task<> MeetingStore::loadDetail(qint64 id)
{
    // The last request wins: a reply for a note the user has since left is dropped.
    const quint64 request = ++m_detailRequest;
    if (m_meetingDetail && m_meetingDetail->id == id) {
        setLoadingDetail(false);
        co_return;
    }
    QPointer self(this);
    setLoadingDetail(true);
    const QUrl url = Endpoints::meetingNoteDetailURL(QString::number(id), sourceOf(id));
    try {
        const DetailResponse reply = co_await APIClient::shared().get<DetailResponse>(url, m_tokens());
        if (!self || request != m_detailRequest)
            co_return;
        m_meetingDetail = reply.data;
        emit meetingDetailChanged();
    } catch (const EQAPIError& e) {
        if (!self || request != m_detailRequest)
            co_return;
        setError(e.description());
    }
    setLoadingDetail(false);
}

bool MeetingStore::setItemDone(qint64 noteId, const QString& itemKey, bool done)
{
    if (!m_meetingDetail || m_meetingDetail->id != noteId)
        return false;
    for (V2ActionItem& item : m_meetingDetail->actionItems) {
        if (item.key() == itemKey) {
            item.done = done;
            emit meetingDetailChanged();
            return true;
        }
    }
    return false;
}

QCoro::Task<> MeetingStore::toggleActionItem(qint64 noteId, QString itemId, bool done)
{
    QPointer self(this);
    setItemDone(noteId, itemId, done);
    const QUrl url = Endpoints::actionItemURL(QString::number(noteId), itemId, sourceOf(noteId));
    try {
        const Body body { done };
        co_await APIClient::shared().patch<Resp>(url, body, m_tokens());
    } catch (const EQAPIError&) {
        if (self)
            setItemDone(noteId, itemId, !done);
    }
}

QUuid MeetingStore::addPendingUpload(
    const QString& fileName, double duration, const QString& folder, const QDateTime& startedAt)
{
    PendingUpload upload;
    upload.id = QUuid::createUuid();
    upload.fileName = fileName;
    upload.folder = folder;
    upload.duration = duration;
    upload.startedAt = startedAt.isValid() ? startedAt.toUTC() : QDateTime::currentDateTimeUtc();
    m_pendingUploads.prepend(upload);
    emit pendingUploadsChanged();
    return upload.id;
}

std::optional<PendingUpload> MeetingStore::pendingUpload(const QUuid& id) const
{
    for (const PendingUpload& u : m_pendingUploads)
        if (u.id == id)
            return u;
    return std::nullopt;
}

std::optional<PendingUpload> MeetingStore::pendingUploadFor(const QString& folder) const
{
    for (const PendingUpload& u : m_pendingUploads)
        if (!folder.isEmpty() && u.folder == folder)
            return u;
    return std::nullopt;
}

void MeetingStore::setPendingUploadProgress(const QString& folder, double fraction)
{
    auto it = std::find_if(m_pendingUploads.begin(), m_pendingUploads.end(),
        [&](const PendingUpload& u) { return !folder.isEmpty() && u.folder == folder; });
    if (it == m_pendingUploads.end() || it->progress == fraction)
        return;
    it->progress = fraction;
    emit pendingUploadsChanged();
}

void MeetingStore::retryPendingUpload(const QUuid& id)
{
    const std::optional<PendingUpload> upload = pendingUpload(id);
    if (!upload || upload->status.stage() != UploadStatus::Failed || upload->folder.isEmpty())
        return;
    setPendingUploadStatus(id, UploadStatus::uploading());
    emit retryRequested(upload->folder);
}

void MeetingStore::discardPendingUpload(const QUuid& id, bool keepFiles)
{
    const std::optional<PendingUpload> upload = pendingUpload(id);
    if (!upload)
        return;
    removePendingUpload(id);
    if (!upload->folder.isEmpty())
        emit discardRequested(upload->folder, keepFiles);
}

void MeetingStore::updatePendingUpload(const QUuid& id, const UploadStatus& status)
{
    auto it = std::find_if(
        m_pendingUploads.begin(), m_pendingUploads.end(), [&](const PendingUpload& u) { return u.id == id; });
    if (it == m_pendingUploads.end())
        return;
    it->status = status;
    if (status.stage() == UploadStatus::Processing)
        it->noteId = status.noteId();
    const PendingUpload changed = *it;
    emit pendingUploadsChanged();
    if (status.stage() == UploadStatus::Processing)
        followUp(changed.id, changed.startedAt, changed.noteId);
}

void MeetingStore::setPendingUploadStatus(const QUuid& id, const UploadStatus& status)
{
    auto it = std::find_if(
        m_pendingUploads.begin(), m_pendingUploads.end(), [&](const PendingUpload& u) { return u.id == id; });
    if (it == m_pendingUploads.end())
        return;
    it->status = status;
    emit pendingUploadsChanged();
}

void MeetingStore::removePendingUpload(const QUuid& id)
{
    const auto removed = m_pendingUploads.removeIf([&](const PendingUpload& u) { return u.id == id; });
    if (removed)
        emit pendingUploadsChanged();
}

QCoro::Task<> MeetingStore::followUp(QUuid id, QDateTime startedAt, std::optional<qint64> noteId)
{
    QPointer self(this);
    const auto gone = [&] { return !self || !self->pendingUpload(id); };

    co_await QCoro::sleepFor(m_timings.transcribingAfter);
    if (gone())
        co_return;
    setPendingUploadStatus(id, UploadStatus::transcribing());

    co_await QCoro::sleepFor(m_timings.generatingAfter);
    if (gone())
        co_return;
    setPendingUploadStatus(id, UploadStatus::generatingNotes());

    for (int poll = 0;; ++poll) {
        co_await QCoro::sleepFor(m_timings.pollInterval);
        if (gone())
            co_return;
        co_await loadMeetings();
        if (gone())
            co_return;
        const auto found = std::find_if(m_meetings.begin(), m_meetings.end(),
            [&](const MeetingNote& n) { return noteId ? n.id == *noteId : n.createdDateTime >= startedAt; });
        if (found != m_meetings.end()) {
            const MeetingNote note = *found;
            const QString folder = pendingUpload(id)->folder;
            setPendingUploadStatus(id, UploadStatus::done());
            if (!folder.isEmpty())
                emit uploadDone(folder);
            emit noteReady(note.id, note.title);
            co_return;
        }
        if (poll >= m_timings.maxPolls - 1) {
            removePendingUpload(id);
            co_return;
        }
    }
}

QList<DateText::DaySection<MeetingNote>> MeetingStore::groupedMeetings() const
{
    return DateText::groupByDay<MeetingNote>(m_meetings, [](const MeetingNote& n) { return n.createdDateTime; });
}

void MeetingStore::setSelectedMeeting(const std::optional<MeetingNote>& note)
{
    const bool same = (note.has_value() == m_selectedMeeting.has_value())
        && (!note || (note->id == m_selectedMeeting->id && note->source == m_selectedMeeting->source));
    m_selectedMeeting = note;
    if (!same)
        emit selectedMeetingChanged();
}

void MeetingStore::setNavigateToMeetingId(const std::optional<qint64>& id)
{
    if (id == m_navigateToMeetingId)
        return;
    m_navigateToMeetingId = id;
    emit navigateToMeetingIdChanged();
}

void MeetingStore::setLoading(bool on)
{
    if (on == m_isLoading)
        return;
    m_isLoading = on;
    emit isLoadingChanged();
}

void MeetingStore::setLoadingDetail(bool on)
{
    if (on == m_isLoadingDetail)
        return;
    m_isLoadingDetail = on;
    emit isLoadingDetailChanged();
}

void MeetingStore::setError(const std::optional<QString>& error)
{
    if (error == m_error)
        return;
    m_error = error;
    emit errorChanged();
}
