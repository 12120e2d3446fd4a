#include "ActionStore.h"
#include "DateText.h"
#include "DayClock.h"
#include "DemoSession.h"
#include "QtPrinters.h"
#include "ScreenText.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace ScreenDriver;

namespace {

QQuickItem* cardOf(QQuickItem* root, const QString& what)
{
    return find(root, [&](QQuickItem* item) {
        return QByteArray(item->metaObject()->className()).startsWith("ActionItemCard")
            && item->property("what") == what;
    });
}

class ActionsScreen : public DemoSession {
protected:
    QQuickItem* actions(AppWindow& app) { return byObjectName(app.root(), u"ActionsView"_s); }
    QString headerLine(AppWindow& app)
    {
        QQuickItem* line = byObjectName(actions(app), u"headerLine"_s);
        return line ? line->property("text").toString() : u"(hidden)"_s;
    }
    int listLoads() { return int(service.requests(u"/api/v2/action-items"_s).size()); }
    bool checked(QQuickItem* card) { return byObjectName(card, u"checkBox"_s)->property("checked").toBool(); }
    // The window on the actions screen once its list has loaded.
    void openActions(AppWindow& app)
    {
        openWindow(app);
        click(app.window, byText(app.root(), u"Actions"_s));
        ASSERT_TRUE(waitUntil([&] { return actions(app) && cardOf(actions(app), mockups) != nullptr; }));
    }

    const QString mockups = u"Update the signup mockups to two steps"_s;
    const QString patches = u"/api/v2/meeting-notes/*"_s;
};

}

TEST_F(ActionsScreen, TicksReachTheServiceARefusalRollsBackAndTwoQuickClicksEndWhereTheyStarted)
{
    AppWindow app;
    openActions(app);
    EXPECT_EQ(std::pair(listLoads(), headerLine(app)), std::pair(1, u"7 open"_s));
    EXPECT_TRUE(byText(actions(app), u"Today"_s) && byText(actions(app), u"Yesterday"_s));
    QQuickItem* card = cardOf(actions(app), mockups);
    EXPECT_EQ(byObjectName(card, u"detailLine"_s)->property("text").toString(),
        u" · Friday · Design review: onboarding flow"_s);
    EXPECT_TRUE(byText(card, u"Priya Shah"_s));
    QQuickItem* shared = cardOf(actions(app), u"Share the test plan with support"_s);
    ASSERT_TRUE(shared && checked(shared));
    EXPECT_TRUE(byObjectName(shared, u"what"_s)->property("font").value<QFont>().strikeOut())
        << "done is struck through";

    click(app.window, byObjectName(card, u"checkBox"_s));
    EXPECT_EQ(std::pair(checked(card), headerLine(app)), std::pair(true, u"6 open"_s));
    ASSERT_TRUE(waitUntil([&] { return service.requests(patches).size() == 1; }));

    // Refused: shown at once, then taken back.
    fault(patches, 500, u"PATCH"_s);
    delay(patches, 400);
    QQuickItem* quote = cardOf(actions(app), u"Send the annual plan quote"_s);
    ASSERT_TRUE(quote);
    click(app.window, byObjectName(quote, u"checkBox"_s));
    EXPECT_EQ(std::pair(checked(quote), headerLine(app)), std::pair(true, u"5 open"_s)) << "shown at once";
    ASSERT_TRUE(waitUntil([&] { return !checked(quote); }));
    EXPECT_EQ(headerLine(app), u"6 open"_s);

    // Two quick clicks on one item: the second comes while the first is still on its way.
    click(app.window, byObjectName(shared, u"checkBox"_s));
    click(app.window, byObjectName(shared, u"checkBox"_s));
    EXPECT_EQ(std::pair(checked(shared), headerLine(app)), std::pair(true, u"6 open"_s));
    ASSERT_TRUE(waitUntil([&] { return service.requests(patches).size() == 4; }));
    EXPECT_EQ(bodiesTo(patches).mid(2),
        QList<QJsonObject>({ QJsonObject { { u"done"_s, false } }, QJsonObject { { u"done"_s, true } } }));
    delay(patches, 0);

    // Both answers are in before the reload's: the screen and the service agree.
    click(app.window, byObjectName(actions(app), u"refreshButton"_s));
    ASSERT_TRUE(waitUntil([&] { return listLoads() == 2 && !app.delegate.actionStore()->isLoading(); }));
    EXPECT_EQ(std::tuple(checked(cardOf(actions(app), u"Share the test plan with support"_s)),
                  checked(cardOf(actions(app), mockups)), headerLine(app)),
        std::tuple(true, true, u"6 open"_s))
        << "the service kept the ticks";

    // Every return to the screen loads the list again.
    click(app.window, byText(app.root(), u"Home"_s));
    click(app.window, byText(app.root(), u"Actions"_s));
    ASSERT_TRUE(waitUntil([&] { return listLoads() == 3; }));

    // Left open past midnight: the date line and the day sections move on.
    const QDateTime midnight(DateText::today().addDays(1), QTime(0, 0), QTimeZone(DateText::timeZoneId()));
    // A second before it: the screen changes when the clock wakes at midnight, not at its hourly look.
    const qint64 shift = QDateTime::currentDateTimeUtc().msecsTo(midnight) - 1000;
    DayClock::shared().setClock([shift] { return QDateTime::currentDateTimeUtc().addMSecs(shift); });
    EXPECT_TRUE(waitUntil(
        [&] {
            return textOf(actions(app), u"dateLine"_s) == ScreenText::dateLineAt(midnight)
                && byText(actions(app), u"Yesterday"_s) && !byText(actions(app), u"Today"_s);
        },
        30000));
    DayClock::shared().setClock(nullptr);
}
