#include "Await.h"
#include "EQFonts.h"
#include "QtPrinters.h"
#include "ScreenDriver.h"
#include "SymbolCatalog.h"
#include "TestServer.h"

#include <QBuffer>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSvgRenderer>
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
    EXPECT_EQ(label->property("font").value<QFont>().capitalization(), QFont::AllUppercase) << "and shows in capitals";
    EXPECT_TRUE(ofType(pill, "EQSymbol"));
    EXPECT_FALSE(ofType(pill, "EQSpinner"));

    click(&window, pill);
    EXPECT_EQ(pill->property("clicks").toInt(), 1);

    pill->setProperty("isLoading", true);
    EXPECT_FALSE(byText(pill, u"Connect Calendar"_s)) << "no label while loading";
    EXPECT_FALSE(ofType(pill, "EQSymbol")) << "no icon while loading";
    EXPECT_TRUE(ofType(pill, "EQSpinner"));
    click(&window, pill);
    EXPECT_EQ(pill->property("clicks").toInt(), 2);
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
    ASSERT_TRUE(inner && outer && word);

    const auto wordColour = [&] { return word->property("color").value<QColor>().name(); };
    EXPECT_EQ(wordColour(), u"#fafafa"_s) << "night when nobody chose";

    QQmlComponent setter(&engine);
    setter.setData("import QtQuick\nimport Echoquill.Ui\nQtObject { property var target; property string theme; "
                   "onThemeChanged: target.EQThemeKey.theme = theme }",
        QUrl(u"qrc:/setter.qml"_s));
    std::unique_ptr<QObject> choose(setter.createWithInitialProperties({{u"target"_s, QVariant::fromValue(outer)}}));
    ASSERT_TRUE(choose);
    choose->setProperty("theme", u"golden"_s);
    EXPECT_EQ(wordColour(), u"#1a1a1a"_s) << "the golden theme reaches the word mark two levels down";

    inner->setParentItem(root);
    EXPECT_EQ(wordColour(), u"#fafafa"_s) << "moved out of the golden subtree";
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
    server.server().Get(
        "/ada.png", [&](const httplib::Request &, httplib::Response &res) { res.set_content(png.toStdString(), "image/png"); });
    server.start();

    QQuickItem *avatar = create(R"(EQAvatar { x: 20; y: 20; name: "ada lovelace king"; size: 40 })");
    ASSERT_TRUE(avatar);
    QQuickItem *initials = byText(avatar, u"AL"_s);
    ASSERT_TRUE(initials);
    EXPECT_EQ(initials->property("color").value<QColor>().name(), u"#7a4a3a"_s) << "pair 2 for this name";
    EXPECT_NEAR(initials->property("font").value<QFont>().pixelSize(), 40 * 0.38, 0.5);

    QQuickItem *picture = ofType(avatar, "AvatarPicture");
    ASSERT_TRUE(picture);
    avatar->setProperty("imageURL", server.url(u"/ada.png"_s).toString());
    ASSERT_TRUE(waitUntil([&] { return picture->property("status").toInt() == 2; })) << "Ready";
    EXPECT_FALSE(byText(avatar, u"AL"_s)) << "the picture replaces the initials";
    settle(&window);
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
    const auto movesFrom = [&](double growth) { return ring->property("growth").toDouble() != growth; };

    window.requestActivate();
    ASSERT_TRUE(waitUntil([&] { return window.isActive(); }));
    EXPECT_TRUE(waitUntil([&] { return movesFrom(1); }, 3000));

    QQuickWindow other;
    other.resize(100, 100);
    other.show();
    other.requestActivate();
    ASSERT_TRUE(waitUntil([&] { return other.isActive() && !window.isActive(); }));
    const double rested = ring->property("growth").toDouble();
    // Frames drawn elsewhere drive every running animation: the ring's must not be one of them.
    for (int frame = 0; frame < 5; ++frame) {
        settle(&other);
        settle(&window);
    }
    EXPECT_FALSE(movesFrom(rested)) << "nothing redraws the window while the user is elsewhere";
    EXPECT_EQ(ring->property("opacity").toDouble(), 0.0) << "the ring rests hidden, not frozen halfway";

    window.requestActivate();
    ASSERT_TRUE(waitUntil([&] { return window.isActive(); }));
    EXPECT_TRUE(waitUntil([&] { return movesFrom(rested); }, 3000)) << "and starts again when the user comes back";
}

TEST(SymbolCatalog, EverySymbolTheScreensNameHasADrawingInItsTint)
{
    const QStringList used {u"house"_s, u"waveform"_s, u"checklist"_s, u"person.circle"_s, u"gearshape"_s, u"magnifyingglass"_s, u"xmark"_s,
        u"checkmark"_s, u"sparkles"_s, u"text.bubble"_s, u"arrow.up.circle"_s, u"calendar"_s, u"folder"_s, u"chevron.left"_s, u"plus"_s,
        u"arrow.clockwise"_s, u"speaker.wave.2.fill"_s, u"speaker.slash"_s, u"checkmark.circle.fill"_s, u"checkmark.seal"_s,
        u"g.circle.fill"_s};
    for (const QString &name : used) {
        QByteArray svg = SymbolCatalog::svg(name);
        svg.replace("currentColor", "#c46a44").replace("knockoutColor", "#ffffff");
        QSvgRenderer renderer(svg);
        ASSERT_TRUE(renderer.isValid()) << name.toStdString();
        QImage image(48, 48, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        int tinted = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                tinted += image.pixel(x, y) == QColor(0xc4, 0x6a, 0x44).rgba() ? 1 : 0;
        EXPECT_GT(tinted, 20) << name.toStdString() << " draws in the requested colour";
    }
    EXPECT_TRUE(SymbolCatalog::svg(u"no.such.symbol"_s).isEmpty());
}

TEST(EQFonts, RolesUseInterWhereInstalledAndTheSystemFontOtherwise)
{
    // fonts-inter is installed by the project's dependencies; Inter Tight is not in Debian.
    ASSERT_EQ(EQFonts::installedFamily(u"Inter-Bold"_s), u"Inter"_s);
    EXPECT_EQ(EQFonts::installedFamily(u"InterTight-Medium"_s), QString());
    EXPECT_EQ(EQFonts::forRole(EQTextRole::h1).family(), QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    const QFont button = EQFonts::forRole(EQTextRole::button);
    EXPECT_EQ(button.family(), u"Inter"_s);
    EXPECT_EQ(button.capitalization(), QFont::AllUppercase);
}
