#include "AuthStore.h"
#include "Browser.h"
#include "CalendarStore.h"
#include "DemoSession.h"
#include "Log.h"
#include "MeetingStore.h"
#include "QtPrinters.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace ScreenDriver;

namespace {

QStringList groupNames(QQuickItem* root)
{
    QStringList names;
    for (QQuickItem* g : findAll(root, [](QQuickItem* i) { return i->objectName().startsWith(u"group:"_s); }))
        names << g->objectName().mid(6);
    return names;
}

QQuickItem* rowOf(QQuickItem* root, const QString& title)
{
    return find(root, [&](QQuickItem* item) {
        const QByteArray type = item->metaObject()->className();
        return (type.startsWith("MeetingTimeRowView") || type.startsWith("LiveHeroView")) && byText(item, title);
    });
}

class HomeScreen : public DemoSession {
protected:
    static bool switchOf(QQuickItem* row) { return byObjectName(row, u"BotToggleView"_s)->property("isOn").toBool(); }
    static qreal topOf(QQuickItem* item) { return item ? item->mapToScene({ 0, 0 }).y() : qQNaN(); }
    QQuickItem* home(AppWindow& app) { return byObjectName(app.root(), u"HomeView"_s); }
    // The home screen loads the calendar every `ms` milliseconds from now on.
    void refreshEvery(AppWindow& app, int ms) { home(app)->setProperty("refreshInterval", ms); }
    int calendarLoads() { return int(service.requests(u"/api/recall/calendar/status"_s).size()); }
    // Pressing the button opens `url` in the browser.
    void expectOpens(AppWindow& app, QQuickItem* pressed, const QList<QUrl>& urls)
    {
        Browser browser;
        click(app.window, pressed);
        EXPECT_EQ(browser.opened, urls);
    }
    // Every later calendar load gets `reply` instead of the service's own.
    void serveUpcoming(const QJsonObject& reply)
    {
        fault(
            u"/api/recall/upcoming-meetings"_s, 200, u"GET"_s, QJsonDocument(reply).toJson(QJsonDocument::Compact), -1);
    }
};

}

TEST_F(HomeScreen, CalendarStatesSpinnerReconnectBannerNoMeetingsAndNoCalendar)
{
    delay(u"/api/recall/upcoming-meetings"_s, 1500);
    AppWindow app;
    openWindow(app);
    ASSERT_TRUE(waitUntil([&] { return byObjectName(app.root(), u"calendarSpinner"_s) != nullptr; }));
    QQuickItem* screen = home(app);
    EXPECT_EQ(std::pair(byObjectName(screen, u"notConnectedCard"_s) != nullptr, groupNames(screen)),
        std::pair(false, QStringList()));
    ASSERT_TRUE(waitUntil([&] { return rowOf(screen, u"Daily standup"_s) != nullptr; }));
    EXPECT_FALSE(byObjectName(screen, u"calendarSpinner"_s));
    delay(u"/api/recall/upcoming-meetings"_s, 0);

    // An expired authorization shows the banner above the meetings, which stay.
    service.control("POST", "/__dev/calendar", { { u"needsReauth"_s, true } });
    refreshEvery(app, 50);
    ASSERT_TRUE(waitUntil([&] { return byObjectName(screen, u"reconnectBanner"_s) != nullptr; }));
    refreshEvery(app, 60000);
    QQuickItem* banner = byObjectName(screen, u"reconnectBanner"_s);
    EXPECT_TRUE(byText(banner, u"Google Calendar disconnected"_s));
    EXPECT_TRUE(byText(banner, u"Your authorization expired. Reconnect to keep your meetings synced."_s));
    EXPECT_LT(topOf(banner), topOf(byObjectName(screen, u"group:Now"_s))) << "the meetings stay, under it";
    expectOpens(app, button(banner, u"Reconnect"_s), { service.url(u"/api/recall/calendar/connect"_s) });
    service.control("POST", "/__dev/calendar", { { u"needsReauth"_s, false } });

    // Connected, with nothing coming up: no groups and no offer to connect.
    serveUpcoming({ { u"success"_s, true }, { u"meetings"_s, QJsonArray() } });
    refreshEvery(app, 50);
    ASSERT_TRUE(waitUntil([&] { return app.delegate.calendarStore()->meetings().isEmpty(); }));
    refreshEvery(app, 60000);
    ASSERT_TRUE(waitUntil([&] { return !app.delegate.calendarStore()->isLoading(); }));
    settle(app.window);
    EXPECT_EQ(std::tuple(groupNames(screen), byText(screen, u"No meetings today"_s) != nullptr,
                  byObjectName(screen, u"calendarSpinner"_s), byObjectName(screen, u"notConnectedCard"_s),
                  byObjectName(screen, u"reconnectBanner"_s)),
        std::tuple(QStringList(), true, nullptr, nullptr, nullptr));

    service.control("POST", "/__dev/calendar", { { u"connected"_s, false } });
    refreshEvery(app, 50);
    ASSERT_TRUE(waitUntil([&] { return byObjectName(screen, u"notConnectedCard"_s) != nullptr; }));
    refreshEvery(app, 60000);
    EXPECT_TRUE(byText(screen, u"No calendar connected"_s));
    expectOpens(app, button(screen, u"Connect Calendar"_s), { service.url(u"/api/recall/calendar/connect"_s) });
}

TEST_F(HomeScreen, GroupsKeepOrderSwitchesKeepPositionRefreshRunsOnlyWhileShownAndTheSidebarOpensNotesAndThemes)
{
    AppWindow app;
    openWindow(app);
    ASSERT_TRUE(waitUntil([&] { return app.delegate.calendarStore()->meetings().size() == 6; }));
    ASSERT_TRUE(waitUntil([&] { return rowOf(app.root(), u"Daily standup"_s) != nullptr; }));
    QQuickItem* screen = home(app);
    const QStringList groups { u"Now"_s, u"Today"_s, u"Tomorrow"_s, u"This week"_s };
    EXPECT_EQ(groupNames(screen), groups);
    EXPECT_TRUE(byText(screen, u"TODAY"_s) && byText(screen, u"THIS WEEK"_s) && !byText(screen, u"NOW"_s)
        && byText(screen, u"2 meetings today · Echoquill is listening"_s))
        << "the live group has no header";
    QQuickItem* hero = rowOf(screen, u"Daily standup"_s);
    ASSERT_TRUE(QByteArray(hero->metaObject()->className()).startsWith("LiveHeroView"));
    EXPECT_TRUE(
        byText(hero, u"LIVE · JOINING NOW"_s) && textOf(hero, u"liveLine"_s).endsWith(u" · Google Meet · 4 people"_s));
    EXPECT_TRUE(byObjectName(rowOf(screen, u"Vendor sync"_s), u"declinedTag"_s));
    QQuickItem* roadmap = rowOf(screen, u"Roadmap review"_s);
    EXPECT_TRUE(byText(roadmap, u"1h 30m"_s) && byText(roadmap, u"AUTO"_s));
    expectOpens(app, button(hero, u"Open meeting"_s), { QUrl(u"https://meet.google.com/abc-defg-hij"_s) });

    // Each flip is sent; the switch follows the last one, also when the service refuses it.
    QQuickItem* critique = rowOf(screen, u"Design critique"_s);
    ASSERT_TRUE(critique && !switchOf(critique) && byText(critique, u"OFF"_s));
    click(app.window, byObjectName(critique, u"BotToggleView"_s));
    EXPECT_EQ(std::pair(switchOf(critique), byText(critique, u"AUTO"_s) != nullptr), std::pair(true, true));
    click(app.window, byObjectName(critique, u"BotToggleView"_s));
    EXPECT_FALSE(switchOf(critique));
    const QString preference = u"/api/recall/meeting-bot-preference"_s;
    ASSERT_TRUE(waitUntil([&] { return service.requests(preference).size() == 2; }));
    const QList<QJsonObject> sent = bodiesTo(preference);
    EXPECT_EQ(QJsonArray({ sent[0][u"bot_enabled"_s], sent[1][u"bot_enabled"_s], sent[1][u"recall_calendar_event_id"_s],
                  sent[1][u"title"_s] }),
        QJsonArray({ true, false, u"evt-critique"_s, u"Design critique"_s }));
    fault(preference, 500, u"POST"_s);
    click(app.window, byObjectName(critique, u"BotToggleView"_s));
    ASSERT_TRUE(waitUntil([&] { return service.requests(preference).size() == 3; }));

    // The service now sends the week first and says the bot is off: the screen keeps its order and the user's position.
    // The live meeting's title and platform carry markup, and its address is not a web one.
    const QString markup = u"<img src=\"%1\"><font color=red>Standup</font>"_s.arg(service.url(u"/x.png"_s).toString());
    const std::string userId = app.delegate.authStore()->currentUser()->id.toStdString();
    const httplib::Headers headers { { "Authorization", "Bearer " + token.toStdString() } };
    auto own = service.client().Get("/api/recall/upcoming-meetings?limit=20&tarnwick_user_id=" + userId, headers);
    ASSERT_TRUE(own && own->status == 200);
    QJsonObject reply = jsonOf(own).toObject();
    QJsonArray reversed;
    for (const QJsonValue& m : reply[u"meetings"_s].toArray()) {
        QJsonObject meeting = m.toObject();
        if (meeting[u"calendarEventId"_s] == u"evt-critique"_s) {
            EXPECT_EQ(meeting[u"botEnabled"_s], QJsonValue(false));
            meeting[u"title"_s] = u"Design critique (moved)"_s;
        }
        if (meeting[u"title"_s] == u"Daily standup"_s) {
            meeting[u"title"_s] = markup;
            meeting[u"platform"_s] = markup;
            meeting[u"meetingUrl"_s] = u"zoommtg://zoom.us/join?confno=5551234567"_s;
        }
        reversed.prepend(meeting);
    }
    reply[u"meetings"_s] = reversed;
    const QPointer<QQuickItem> liveCard = hero, critiqueRow = critique;
    serveUpcoming(reply);
    refreshEvery(app, 50);
    ASSERT_TRUE(waitUntil([&] { return rowOf(screen, u"Design critique (moved)"_s) != nullptr; }));
    refreshEvery(app, 60000);
    settle(app.window);
    EXPECT_TRUE(liveCard && critiqueRow == rowOf(screen, u"Design critique (moved)"_s))
        << "rows live on through a refresh, changed in place, and keep their hover and animations";
    EXPECT_EQ(std::pair(app.delegate.calendarStore()->meetings().first().title, groupNames(screen)),
        std::pair(u"Roadmap review"_s, groups));
    EXPECT_LT(topOf(rowOf(screen, u"Vendor sync"_s)), topOf(rowOf(screen, u"Northwind onboarding"_s)))
        << "the store's order within a group";
    EXPECT_TRUE(switchOf(rowOf(screen, u"Design critique (moved)"_s))) << "neither the refusal nor the reload moved it";
    EXPECT_EQ(service.requests(preference).size(), 3) << "a reload sends nothing";

    // The markup shows as written (and fetches nothing, below); "Open meeting" opens web addresses only.
    hero = rowOf(screen, markup);
    const QList<QQuickItem*> marked
        = findAll(hero, [](QQuickItem* i) { return i->property("text").toString().contains(u"<font"_s); });
    ASSERT_EQ(marked.size(), 2) << "the title and the live line";
    for (QQuickItem* text : marked)
        EXPECT_EQ(text->property("textFormat").toInt(), 0 /* Text.PlainText: the characters as written */);
    Log::Capture log;
    expectOpens(app, button(hero, u"Open meeting"_s), {});
    EXPECT_TRUE(log.contains(u"[HomeView] Not opening a meeting address of scheme zoommtg"_s));

    MeetingStore* meetings = app.delegate.meetingStore();
    ASSERT_TRUE(waitUntil([&] { return meetings->meetings().size() == 7; })) << "the main view loads the notes";
    EXPECT_EQ(service.requests(u"/api/v2/meeting-notes"_s).size(), 1) << "once";
    EXPECT_EQ(service.requests(u"/api/recall/settings"_s).size(), 1) << "the bot settings load with the screen";
    refreshEvery(app, 150);
    const int before = calendarLoads();
    ASSERT_TRUE(waitUntil([&] { return calendarLoads() >= before + 2 && !app.delegate.calendarStore()->isLoading(); }));
    EXPECT_TRUE(service.requests(u"/x.png"_s).isEmpty()) << "the image in the markup was never asked for";

    // Loading back to back, then left: the model goes, its last load ends, and no other starts.
    QPointer<QObject> model = home(app)->property("home").value<QObject*>();
    ASSERT_TRUE(model);
    refreshEvery(app, 1);
    click(app.window, byText(app.root(), u"Actions"_s));
    ASSERT_TRUE(waitUntil([&] { return model.isNull() && !app.delegate.calendarStore()->isLoading(); }));
    const int whenLeft = calendarLoads();
    for (int load = 2; load <= 4; ++load) {
        click(app.window, byObjectName(app.root(), u"refreshButton"_s));
        ASSERT_TRUE(waitUntil([&] { return service.requests(u"/api/v2/action-items"_s).size() == load; }));
    }
    EXPECT_EQ(calendarLoads(), whenLeft) << "no load once the screen is gone";

    click(app.window, byText(app.root(), u"Home"_s));
    ASSERT_TRUE(waitUntil([&] { return calendarLoads() > whenLeft && !app.delegate.calendarStore()->isLoading(); }));
    EXPECT_EQ(service.requests(u"/api/recall/settings"_s).size(), 2) << "each return is a fresh first load";

    // Ctrl+F goes to the sidebar's search field (the keyboard walk goes through the other shortcuts).
    QQuickItem* sidebar = byObjectName(app.root(), u"SidebarView"_s);
    QTest::keyClick(app.window, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(byObjectName(sidebar, u"SidebarSearchBar"_s)->isAncestorOf(app.window->activeFocusItem()));

    // An unknown note opens nothing; a known one opens in Meetings with its detail.
    meetings->setNavigateToMeetingId(999);
    EXPECT_EQ(std::tuple(meetings->navigateToMeetingId().has_value(), meetings->selectedMeeting().has_value(),
                  home(app) != nullptr),
        std::tuple(false, false, true))
        << "the screen stays";
    const qint64 known = meetings->meetings().first().id;
    meetings->setNavigateToMeetingId(known);
    EXPECT_TRUE(shows(app.detailColumn(), "MeetingDetailView"));
    ASSERT_TRUE(waitUntil([&] { return meetings->meetingDetail() && meetings->meetingDetail()->id == known; }));
    EXPECT_EQ(service.requests(u"/api/v2/meeting-notes/999"_s).size(), 0) << "no detail asked for the unknown note";

    ASSERT_TRUE(sidebar && sidebar->property("color").value<QColor>().name() == u"#faf6ee"_s);
    click(app.window, byText(app.root(), u"Night"_s));
    EXPECT_EQ(sidebar->property("color").value<QColor>().name(), u"#16161a"_s);
    click(app.window, byText(app.root(), u"Golden"_s));
    EXPECT_EQ(sidebar->property("color").value<QColor>().name(), u"#faf6ee"_s);
}
