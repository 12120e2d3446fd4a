#include "HomeViewModel.h"

#include "Endpoints.h"
#include "Log.h"
#include "ScreenText.h"

#include <QDesktopServices>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

HomeViewModel::HomeViewModel(QObject* parent)
    : QObject(parent)
    , m_meetings(this)
{
    m_wait.setSingleShot(true);
    connect(&m_wait, &QTimer::timeout, this, [this] { refresh(m_generation); });
}

HomeViewModel::~HomeViewModel()
{
    disappear();
}

void HomeViewModel::setCalendarStore(CalendarStore* store)
{
    if (store == m_calendar)
        return;
    disconnect(m_meetingsConnection);
    m_calendar = store;
    if (store)
        m_meetingsConnection = connect(store, &CalendarStore::meetingsChanged, this, &HomeViewModel::updateRows);
    updateRows();
    emit calendarStoreChanged();
}

void HomeViewModel::setRecallStore(RecallStore* store)
{
    if (store == m_recall)
        return;
    m_recall = store;
    emit recallStoreChanged();
}

void HomeViewModel::setAuthStore(AuthStore* store)
{
    if (store == m_auth)
        return;
    m_auth = store;
    emit authStoreChanged();
}

void HomeViewModel::setRefreshInterval(int ms)
{
    if (ms == m_refreshInterval)
        return;
    m_refreshInterval = ms;
    // A wait under way is measured afresh with the new interval.
    if (m_wait.isActive())
        m_wait.start(ms);
    emit refreshIntervalChanged();
}

QList<UpcomingMeeting> HomeViewModel::meetingsIn(const QList<UpcomingMeeting>& meetings, const QString& group)
{
    QList<UpcomingMeeting> out;
    std::copy_if(meetings.begin(), meetings.end(), std::back_inserter(out),
        [&](const UpcomingMeeting& m) { return m.group == group; });
    return out;
}

void HomeViewModel::updateRows()
{
    QList<UpcomingMeeting> ordered;
    if (m_calendar) {
        for (const QString& name : groupOrder)
            ordered << meetingsIn(m_calendar->meetings(), name);
    }
    m_meetings.setMeetings(ordered);
    emit summaryLineChanged();
}

QString HomeViewModel::summaryLine() const
{
    const QList<UpcomingMeeting> meetings = m_calendar ? m_calendar->meetings() : QList<UpcomingMeeting>();
    const auto live = std::count_if(meetings.begin(), meetings.end(), [](const UpcomingMeeting& m) { return m.live; });
    const auto today = std::count_if(
        meetings.begin(), meetings.end(), [](const UpcomingMeeting& m) { return m.group == u"Today"_s; });
    return ScreenText::homeSummary(int(live), int(today));
}

void HomeViewModel::setBotOn(const QString& meetingId, bool on)
{
    m_meetings.setBotOn(meetingId, on);
    if (!m_calendar || !m_recall)
        return;
    for (const UpcomingMeeting& m : m_calendar->meetings()) {
        if (m.id == meetingId) {
            m_recall->toggleMeetingBot(m, on);
            return;
        }
    }
}

void HomeViewModel::appear()
{
    m_shown = true;
    ++m_generation;
    firstLoad(m_generation);
}

void HomeViewModel::disappear()
{
    if (!m_shown)
        return;
    m_shown = false;
    if (m_wait.isActive()) {
        // The wait is cut short, and a cut-short wait still ends in one more load.
        m_wait.stop();
        loadCalendar();
    }
}

QCoro::Task<> HomeViewModel::loadCalendar()
{
    if (!m_calendar)
        co_return;
    const QString userId = m_auth && m_auth->currentUser() ? m_auth->currentUser()->id : QString();
    co_await m_calendar->load(userId);
}

QCoro::Task<> HomeViewModel::firstLoad(quint64 generation)
{
    QPointer self(this);
    if (m_recall)
        m_recall->loadSettings();
    co_await loadCalendar();
    if (self && isCurrent(generation))
        m_wait.start(m_refreshInterval);
}

QCoro::Task<> HomeViewModel::refresh(quint64 generation)
{
    QPointer self(this);
    co_await loadCalendar();
    if (self && isCurrent(generation))
        m_wait.start(m_refreshInterval);
}

void HomeViewModel::openConnectPage() const
{
    QDesktopServices::openUrl(Endpoints::url(Endpoints::Path::calendarConnect));
}

bool HomeViewModel::openMeeting(const QString& meetingUrl) const
{
    const QUrl url(meetingUrl, QUrl::StrictMode);
    if (meetingUrl.isEmpty() || !url.isValid() || url.scheme().isEmpty())
        return false;
    // A calendar entry can name any scheme; only web addresses go to the browser.
    if (url.scheme() != "https"_L1 && url.scheme() != "http"_L1) {
        Log::line("[HomeView] Not opening a meeting address of scheme "_L1 + url.scheme());
        return false;
    }
    return QDesktopServices::openUrl(url);
}
