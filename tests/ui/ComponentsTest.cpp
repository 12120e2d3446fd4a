#include "Await.h"
#include "QtPrinters.h"
#include "ScreenDriver.h"
#include "TestServer.h"

#include <QBuffer>
#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)

using namespace Qt::StringLiterals;
using namespace ScreenDriver;

namespace {

// Design-system components created from QML text inside a shown window.
class ComponentsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine.addImportPath(u"qrc:/"_s);
        window.resize(400, 300);
        window.show();
        ASSERT_TRUE(waitUntil([&] { return window.isExposed(); }));
    }

    QQuickItem *create(const QByteArray &body)
    {
        QQmlComponent component(&engine);
        component.setData("import QtQuick\nimport Echoquill.Ui\n" + body, QUrl(u"qrc:/test.qml"_s));
        auto *item = qobject_cast<QQuickItem *>(component.create());
        EXPECT_TRUE(item) << component.errorString().toStdString();
        if (item) {
            item->setParent(&window);
            item->setParentItem(window.contentItem());
        }
        return item;
    }

    QQmlEngine engine;
    QQuickWindow window;
};

QQuickItem *childOfType(QQuickItem *root, const char *type)
{
    return find(root, [&](QQuickItem *item) { return QByteArray(item->metaObject()->className()).startsWith(type); });
}

}

TEST_F(ComponentsTest, PillButtonLoadingHidesItsContentAndStillReactsToClicks)
{
    QQuickItem *pill = create(R"(PillButton {
        property int clicks: 0
        x: 40; y: 40
        label: "Connect Calendar"; icon: "calendar"; variant: "dark"
        action: () => clicks++
    })");
    ASSERT_TRUE(pill);
    QQuickItem *label = byText(pill, u"Connect Calendar"_s);
    ASSERT_TRUE(label) << "the label keeps its text as written";
    const QFont font = label->property("font").value<QFont>();
    EXPECT_EQ(font.capitalization(), QFont::AllUppercase) << "and shows in capitals";
    EXPECT_EQ(font.pixelSize(), 12);
    EXPECT_TRUE(childOfType(pill, "EQSymbol"));
    EXPECT_FALSE(childOfType(pill, "EQSpinner"));

    click(&window, pill);
    EXPECT_EQ(pill->property("clicks").toInt(), 1);

    pill->setProperty("isLoading", true);
    EXPECT_FALSE(byText(pill, u"Connect Calendar"_s)) << "no label while loading";
    EXPECT_FALSE(childOfType(pill, "EQSymbol")) << "no icon while loading";
    EXPECT_TRUE(childOfType(pill, "EQSpinner"));
    click(&window, pill);
    EXPECT_EQ(pill->property("clicks").toInt(), 2);
}

TEST_F(ComponentsTest, PillButtonShrinksWhilePressedAndSpringsBack)
{
    QQuickItem *pill = create(R"(PillButton { x: 40; y: 40; label: "Send code"; variant: "primary" })");
    ASSERT_TRUE(pill);
    const QPoint centre = pill->mapToScene(QPointF(pill->width() / 2, pill->height() / 2)).toPoint();
    QTest::mousePress(&window, Qt::LeftButton, {}, centre);
    EXPECT_TRUE(pill->property("isPressed").toBool());
    EXPECT_TRUE(waitUntil([&] { return qFuzzyCompare(pill->scale(), 0.98); }, 1000));
    QTest::mouseRelease(&window, Qt::LeftButton, {}, centre);
    EXPECT_FALSE(pill->property("isPressed").toBool());
    EXPECT_TRUE(waitUntil([&] { return qFuzzyCompare(pill->scale(), 1.0); }, 1000));
}

TEST_F(ComponentsTest, ThemeIsInheritedDownTheTreeAndFollowsChanges)
{
    QQuickItem *root = create(R"(Item {
        property alias inner: inner
        property alias mark: mark
        Item {
            id: outer
            objectName: "outer"
            Item { id: inner; Item { EchoquillWordmark { id: mark } } }
        }
    })");
    ASSERT_TRUE(root);
    auto *inner = root->property("inner").value<QQuickItem *>();
    auto *mark = root->property("mark").value<QQuickItem *>();
    QQuickItem *outer = byObjectName(root, u"outer"_s);
    QQuickItem *word = byText(mark, u"echoquill"_s);
    ASSERT_TRUE(inner && mark && outer && word);

    const auto themeOf = [&](QQuickItem *item) {
        QQmlComponent c(&engine);
        c.setData("import QtQuick\nimport Echoquill.Ui\nQtObject { property var target; property string theme: target.EQThemeKey.theme }",
            QUrl(u"qrc:/reader.qml"_s));
        std::unique_ptr<QObject> probe(c.createWithInitialProperties({{u"target"_s, QVariant::fromValue(item)}}));
        return probe ? probe->property("theme").toString() : u"(error)"_s;
    };

    EXPECT_EQ(themeOf(inner), u"night"_s) << "night when nobody chose";
    EXPECT_EQ(word->property("color").value<QColor>().name(), u"#fafafa"_s);

    QQmlComponent setter(&engine);
    setter.setData("import QtQuick\nimport Echoquill.Ui\nQtObject { property var target; property string theme; "
                   "onThemeChanged: target.EQThemeKey.theme = theme }",
        QUrl(u"qrc:/setter.qml"_s));
    std::unique_ptr<QObject> choose(setter.createWithInitialProperties({{u"target"_s, QVariant::fromValue(outer)}}));
    ASSERT_TRUE(choose);
    choose->setProperty("theme", u"golden"_s);
    EXPECT_EQ(themeOf(inner), u"golden"_s);
    EXPECT_EQ(word->property("color").value<QColor>().name(), u"#1a1a1a"_s) << "the word mark follows the theme";

    inner->setParentItem(root);
    EXPECT_EQ(themeOf(inner), u"night"_s) << "moved out of the golden subtree";
    EXPECT_EQ(word->property("color").value<QColor>().name(), u"#fafafa"_s);
}

TEST_F(ComponentsTest, AvatarShowsItsPictureOnceLoadedAndInitialsOtherwise)
{
    QImage red(8, 8, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    red.save(&buffer, "PNG");
    TestServer server;
    server.server().Get("/ada.png", [&](const httplib::Request &, httplib::Response &res) {
        res.set_content(png.toStdString(), "image/png");
    });
    server.start();

    QQuickItem *avatar = create(R"(EQAvatar { x: 20; y: 20; name: "ada lovelace king"; size: 40 })");
    ASSERT_TRUE(avatar);
    QQuickItem *initials = byText(avatar, u"AL"_s);
    ASSERT_TRUE(initials);
    EXPECT_EQ(initials->property("color").value<QColor>().name(), u"#7a4a3a"_s) << "pair 2 for this name";
    EXPECT_NEAR(initials->property("font").value<QFont>().pixelSize(), 40 * 0.38, 0.5);

    QQuickItem *picture = childOfType(avatar, "AvatarPicture");
    ASSERT_TRUE(picture);
    avatar->setProperty("imageURL", server.url(u"/ada.png"_s).toString());
    ASSERT_TRUE(waitUntil([&] { return picture->property("status").toInt() == 2; })) << "Ready";
    EXPECT_FALSE(byText(avatar, u"AL"_s)) << "the picture replaces the initials";
    waitUntil([] { return false; }, 50);
    const QImage shot = window.grabWindow();
    EXPECT_EQ(shot.pixelColor(avatar->mapToScene({20, 20}).toPoint()).name(), u"#ff0000"_s);
    EXPECT_NE(shot.pixelColor(avatar->mapToScene({1, 1}).toPoint()).name(), u"#ff0000"_s) << "clipped to a circle";

    avatar->setProperty("imageURL", server.url(u"/missing.png"_s).toString());
    ASSERT_TRUE(waitUntil([&] { return picture->property("status").toInt() == 3; })) << "Error";
    EXPECT_TRUE(byText(avatar, u"AL"_s)) << "a failed picture shows the initials";
}

TEST_F(ComponentsTest, LiveDecorationsMoveOnlyWhileTheirWindowIsActive)
{
    QQuickItem *ring = create(R"(RippleRing { x: 100; y: 100 })");
    ASSERT_TRUE(ring);
    const auto moves = [&] {
        const double before = ring->property("growth").toDouble();
        waitUntil([] { return false; }, 150);
        return ring->property("growth").toDouble() != before;
    };

    window.requestActivate();
    ASSERT_TRUE(waitUntil([&] { return window.isActive(); }));
    EXPECT_TRUE(waitUntil(moves, 3000));

    QQuickWindow other;
    other.resize(100, 100);
    other.show();
    other.requestActivate();
    ASSERT_TRUE(waitUntil([&] { return other.isActive() && !window.isActive(); }));
    EXPECT_FALSE(moves()) << "nothing redraws the window while the user is elsewhere";
    EXPECT_EQ(ring->property("opacity").toDouble(), 0.0) << "the ring rests hidden, not frozen halfway";

    window.requestActivate();
    ASSERT_TRUE(waitUntil([&] { return window.isActive(); }));
    EXPECT_TRUE(waitUntil(moves, 3000)) << "and starts again when the user comes back";
}
