#include "MeetingStore.h"

#include "Endpoints.h"
#include "Log.h"

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

MeetingStore::MeetingStore(TokenProvider tokens, QObject* parent)
    : QObject(parent)
    , m_tokens(std::move(tokens))
{
}

QCoro::Task<> MeetingStore::loadMeetings()
{
    QPointer self(this);
    setLoading(true);
    setError(std::nullopt);
    const QUrl url = Endpoints::url(Endpoints::Path::meetingNotes);
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

QCoro::Task<std::optional<MeetingNote>> MeetingStore::findNote(std::optional<qint64> noteId, QDateTime since)
{
    QPointer self(this);
    co_await loadMeetings();
    if (!self)
        co_return std::nullopt;
    const auto found = std::find_if(m_meetings.begin(), m_meetings.end(),
        [&](const MeetingNote& n) { return noteId ? n.id == *noteId : n.createdDateTime >= since; });
    co_return found != m_meetings.end() ? std::optional(*found) : std::nullopt;
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
