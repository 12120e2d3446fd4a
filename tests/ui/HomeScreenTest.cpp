#include "AuthStore.h"
#include "CalendarStore.h"
#include "DemoSession.h"
#include "QtPrinters.h"

#include <QDesktopServices>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace ScreenDriver;

namespace {

// Stands in for the default browser: keeps every address the client opens.
class Browser : public QObject {
    Q_OBJECT
public:
    Browser()
    {
        QDesktopServices::setUrlHandler(u"http"_s, this, "open");
        QDesktopServices::setUrlHandler(u"https"_s, this, "open");
    }
    ~Browser() override
    {
        QDesktopServices::unsetUrlHandler(u"http"_s);
        QDesktopServices::unsetUrlHandler(u"https"_s);
    }
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

QStringList groupNames(QQuickItem *root)
{
    QStringList names;
    for (QQuickItem *g : findAll(root, [](QQuickItem *i) { return i->objectName().startsWith(u"group:"_s); }))
        names << g->objectName().mid(6);
    return names;
}

QQuickItem *rowOf(QQuickItem *root, const QString &title)
{
    return find(root, [&](QQuickItem *item) {
        const QByteArray type = item->metaObject()->className();
        return (type.startsWith("MeetingTimeRowView") || type.startsWith("LiveHeroView")) && byText(item, title);
    });
}

bool switchOf(QQuickItem *row)
{
    return byObjectName(row, u"BotToggleView"_s)->property("isOn").toBool();
}

class HomeScreen : public DemoSession {
protected:
    // The window on the home screen once the demo calendar has loaded.
    void openHome(AppWindow &app)
    {
        openWindow(app);
        ASSERT_TRUE(waitUntil([&] { return app.delegate.calendarStore()->meetings().size() == 6; }));
        ASSERT_TRUE(waitUntil([&] { return rowOf(app.root(), u"Daily standup"_s) != nullptr; }));
    }
    QQuickItem *home(AppWindow &app) { return byObjectName(app.root(), u"HomeView"_s); }
    // The home screen loads the calendar every `ms` milliseconds from now on.
    void refreshEvery(AppWindow &app, int ms) { home(app)->setProperty("refreshInterval", ms); }
    int calendarLoads() { return int(requestsTo(u"/api/recall/calendar/status"_s).size()); }
    // Waits until `count` calendar loads have come after the first `before`.
    void waitForLoads(AppWindow &app, int before, int count)
    {
        ASSERT_TRUE(waitUntil([&] { return calendarLoads() >= before + count; }, 5000));
        ASSERT_TRUE(waitUntil([&] { return !app.delegate.calendarStore()->isLoading(); }));
    }
    // Pressing the button opens the service's calendar-connect page in the browser.
    void expectConnectPageFrom(AppWindow &app, QQuickItem *button)
    {
        Browser browser;
        click(app.window, button);
        ASSERT_EQ(browser.opened.size(), 1);
        EXPECT_EQ(browser.opened[0], service.url(u"/api/recall/calendar/connect"_s));
    }
    // The service's own reply for the upcoming meetings, as the client asks for it.
    QJsonObject upcomingReply(AppWindow &app)
    {
        const QString userId = app.delegate.authStore()->currentUser()->id;
        auto client = service.client();
        const httplib::Headers headers {{"Authorization", "Bearer " + token.toStdString()}};
        auto reply = client.Get("/api/recall/upcoming-meetings?limit=20&tarnwick_user_id=" + userId.toStdString(), headers);
        EXPECT_TRUE(reply && reply->status == 200);
        return jsonOf(reply).toObject();
    }
    // Every later calendar load gets `reply` instead of the service's own.
    void serveUpcoming(const QJsonObject &reply)
    {
        fault(u"/api/recall/upcoming-meetings"_s, 200, u"GET"_s, QJsonDocument(reply).toJson(QJsonDocument::Compact), -1);
    }
};

}

TEST_F(HomeScreen, GroupsAndSwitchesKeepTheirOrderAndPositionThroughReloadsWhichRunOnlyWhileShown)
{
    AppWindow app;
    openHome(app);
    QQuickItem *screen = home(app);
    const QStringList groups {u"Now"_s, u"Today"_s, u"Tomorrow"_s, u"This week"_s};
    EXPECT_EQ(groupNames(screen), groups);
    EXPECT_TRUE(byText(screen, u"TODAY"_s));
    EXPECT_TRUE(byText(screen, u"THIS WEEK"_s));
    EXPECT_FALSE(byText(screen, u"NOW"_s)) << "the live group has no header";
    EXPECT_TRUE(byText(screen, u"2 meetings today · Echoquill is listening"_s));
    EXPECT_EQ(requestsTo(u"/api/recall/settings"_s).size(), 1) << "the bot settings load with the screen";
    QQuickItem *hero = rowOf(screen, u"Daily standup"_s);
    ASSERT_TRUE(QByteArray(hero->metaObject()->className()).startsWith("LiveHeroView"));
    EXPECT_TRUE(byText(hero, u"LIVE · JOINING NOW"_s));
    EXPECT_TRUE(textOf(hero, u"liveLine"_s).endsWith(u" · Google Meet · 4 people"_s));
    EXPECT_TRUE(byObjectName(rowOf(screen, u"Vendor sync"_s), u"declinedTag"_s));
    EXPECT_TRUE(byText(rowOf(screen, u"Roadmap review"_s), u"1h 30m"_s));
    EXPECT_TRUE(byText(rowOf(screen, u"Roadmap review"_s), u"AUTO"_s));
    grab(app.window, u"HomeView"_s);
    {
        Browser browser;
        click(app.window, button(hero, u"Open meeting"_s));
        EXPECT_EQ(browser.opened, QList<QUrl>({QUrl(u"https://meet.google.com/abc-defg-hij"_s)}));
    }

    // Each flip is sent; the switch follows the last one, also when the service refuses it.
    QQuickItem *critique = rowOf(screen, u"Design critique"_s);
    ASSERT_TRUE(critique);
    ASSERT_FALSE(switchOf(critique));
    EXPECT_TRUE(byText(critique, u"OFF"_s));
    click(app.window, byObjectName(critique, u"BotToggleView"_s));
    EXPECT_TRUE(switchOf(critique));
    EXPECT_TRUE(byText(critique, u"AUTO"_s));
    click(app.window, byObjectName(critique, u"BotToggleView"_s));
    EXPECT_FALSE(switchOf(critique));
    const QString preference = u"/api/recall/meeting-bot-preference"_s;
    ASSERT_TRUE(waitUntil([&] { return requestsTo(preference).size() == 2; }));
    const QList<QJsonObject> sent = bodiesTo(preference);
    EXPECT_EQ(sent[0][u"bot_enabled"_s], QJsonValue(true));
    EXPECT_EQ(sent[1][u"bot_enabled"_s], QJsonValue(false));
    EXPECT_EQ(sent[1][u"recall_calendar_event_id"_s].toString(), u"evt-critique"_s);
    EXPECT_EQ(sent[1][u"title"_s].toString(), u"Design critique"_s);
    fault(preference, 500, u"POST"_s);
    click(app.window, byObjectName(critique, u"BotToggleView"_s));
    ASSERT_TRUE(waitUntil([&] { return requestsTo(preference).size() == 3; }));

    // The service now sends the week first and says the bot is off: the screen keeps its order and the user's position.
    QJsonObject reply = upcomingReply(app);
    QJsonArray reversed;
    for (const QJsonValue &m : reply[u"meetings"_s].toArray()) {
        QJsonObject meeting = m.toObject();
        if (meeting[u"calendarEventId"_s] == u"evt-critique"_s) {
            EXPECT_EQ(meeting[u"botEnabled"_s], QJsonValue(false));
            meeting[u"title"_s] = u"Design critique (moved)"_s;
        }
        reversed.prepend(meeting);
    }
    reply[u"meetings"_s] = reversed;
    serveUpcoming(reply);
    refreshEvery(app, 50);
    ASSERT_TRUE(waitUntil([&] { return rowOf(screen, u"Design critique (moved)"_s) != nullptr; }));
    refreshEvery(app, 60000);
    EXPECT_EQ(app.delegate.calendarStore()->meetings().first().title, u"Roadmap review"_s);
    EXPECT_EQ(groupNames(screen), groups);
    QQuickItem *vendor = rowOf(screen, u"Vendor sync"_s);
    QQuickItem *northwind = rowOf(screen, u"Northwind onboarding"_s);
    ASSERT_TRUE(vendor && northwind);
    EXPECT_LT(vendor->mapToScene({0, 0}).y(), northwind->mapToScene({0, 0}).y()) << "the store's order within a group";
    EXPECT_TRUE(switchOf(rowOf(screen, u"Design critique (moved)"_s))) << "neither the refusal nor the reload moved it";
    EXPECT_EQ(requestsTo(preference).size(), 3) << "a reload sends nothing";

    // Loading back to back, then left: the model goes, its last load ends, and no other starts.
    QPointer<QObject> model = screen->property("home").value<QObject *>();
    ASSERT_TRUE(model);
    refreshEvery(app, 1);
    click(app.window, byText(app.root(), u"Actions"_s));
    ASSERT_TRUE(waitUntil([&] { return model.isNull(); }));
    ASSERT_TRUE(waitUntil([&] { return !app.delegate.calendarStore()->isLoading(); }));
    const int afterLeaving = calendarLoads();
    for (int load = 2; load <= 4; ++load) {
        click(app.window, byObjectName(app.root(), u"refreshButton"_s));
        ASSERT_TRUE(waitUntil([&] { return requestsTo(u"/api/v2/action-items"_s).size() == load; }));
    }
    EXPECT_EQ(calendarLoads(), afterLeaving) << "no load once the screen is gone";

    click(app.window, byText(app.root(), u"Home"_s));
    waitForLoads(app, afterLeaving, 1);
    EXPECT_EQ(requestsTo(u"/api/recall/settings"_s).size(), 2) << "each return is a fresh first load";
}

TEST_F(HomeScreen, CalendarStatesSpinnerReconnectBannerNoMeetingsAndNoCalendar)
{
    delay(u"/api/recall/upcoming-meetings"_s, 1500);
    AppWindow app;
    openWindow(app);
    ASSERT_TRUE(waitUntil([&] { return byObjectName(app.root(), u"calendarSpinner"_s) != nullptr; }));
    QQuickItem *screen = home(app);
    EXPECT_FALSE(byObjectName(screen, u"notConnectedCard"_s));
    EXPECT_TRUE(groupNames(screen).isEmpty());
    ASSERT_TRUE(waitUntil([&] { return rowOf(screen, u"Daily standup"_s) != nullptr; }));
    EXPECT_FALSE(byObjectName(screen, u"calendarSpinner"_s));
    delay(u"/api/recall/upcoming-meetings"_s, 0);

    // An expired authorization shows the banner above the meetings, which stay.
    service.control("POST", "/__dev/calendar", {{u"needsReauth"_s, true}});
    refreshEvery(app, 50);
    ASSERT_TRUE(waitUntil([&] { return byObjectName(screen, u"reconnectBanner"_s) != nullptr; }));
    refreshEvery(app, 60000);
    QQuickItem *banner = byObjectName(screen, u"reconnectBanner"_s);
    EXPECT_TRUE(byText(banner, u"Google Calendar disconnected"_s));
    EXPECT_TRUE(byText(banner, u"Your authorization expired. Reconnect to keep your meetings synced."_s));
    QQuickItem *now = byObjectName(screen, u"group:Now"_s);
    ASSERT_TRUE(now) << "the meetings stay";
    EXPECT_LT(banner->mapToScene({0, 0}).y(), now->mapToScene({0, 0}).y());
    expectConnectPageFrom(app, button(banner, u"Reconnect"_s));
    grab(app.window, u"HomeView-reconnect"_s);
    service.control("POST", "/__dev/calendar", {{u"needsReauth"_s, false}});

    // Connected, with nothing coming up: no groups and no offer to connect.
    serveUpcoming({{u"success"_s, true}, {u"meetings"_s, QJsonArray()}});
    refreshEvery(app, 50);
    ASSERT_TRUE(waitUntil([&] { return app.delegate.calendarStore()->meetings().isEmpty(); }));
    refreshEvery(app, 60000);
    ASSERT_TRUE(waitUntil([&] { return !app.delegate.calendarStore()->isLoading(); }));
    EXPECT_TRUE(groupNames(screen).isEmpty());
    EXPECT_TRUE(byText(screen, u"No meetings today"_s));
    EXPECT_FALSE(byObjectName(screen, u"calendarSpinner"_s));
    EXPECT_FALSE(byObjectName(screen, u"notConnectedCard"_s)) << "the calendar is connected";
    EXPECT_FALSE(byObjectName(screen, u"reconnectBanner"_s));

    service.control("POST", "/__dev/calendar", {{u"connected"_s, false}});
    refreshEvery(app, 50);
    ASSERT_TRUE(waitUntil([&] { return byObjectName(screen, u"notConnectedCard"_s) != nullptr; }));
    refreshEvery(app, 60000);
    EXPECT_TRUE(byText(screen, u"No calendar connected"_s));
    expectConnectPageFrom(app, button(screen, u"Connect Calendar"_s));
    grab(app.window, u"HomeView-no-calendar"_s);
}

#include "HomeScreenTest.moc"
