#include "AvatarPicture.h"
#include "Await.h"
#include "EQFonts.h"
#include "EQSymbol.h"
#include "QtPrinters.h"
#include "ScreenDriver.h"
#include "SymbolCatalog.h"
#include "SymbolImageCache.h"
#include "TestServer.h"
#include "UserActivity.h"

#include <QBuffer>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <algorithm>

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

    QQuickItem* create(const QByteArray& body)
    {
        QQmlComponent component(&engine);
        component.setData("import QtQuick\nimport Echoquill.Ui\n" + body, QUrl(u"qrc:/test.qml"_s));
        auto* item = qobject_cast<QQuickItem*>(component.create());
        EXPECT_TRUE(item) << component.errorString().toStdString();
        if (item)
            item->setParent(&window), item->setParentItem(window.contentItem());
        return item;
    }

    QQmlEngine engine;
    QQuickWindow window;
};

}

TEST_F(ComponentsTest, PillButtonLoadingHidesItsContentAndThemesReachDownTheTree)
{
    QQuickItem* pill = create(R"(PillButton { property int clicks: 0; x: 40; y: 40
        label: "Connect Calendar"; icon: "calendar"; variant: "dark"; onActivated: clicks++ })");
    ASSERT_TRUE(pill);
    // The label as written, in capitals; the icon; the spinner; the clicks so far.
    const auto parts = [&] {
        QQuickItem* label = byText(pill, u"Connect Calendar"_s);
        return std::tuple(label ? int(label->property("font").value<QFont>().capitalization()) : -1,
            shows(pill, "EQSymbol"), shows(pill, "EQSpinner"), pill->property("clicks").toInt());
    };
    click(&window, pill);
    EXPECT_EQ(parts(), std::tuple(int(QFont::AllUppercase), true, false, 1));
    pill->setProperty("isLoading", true);
    click(&window, pill);
    EXPECT_EQ(parts(), std::tuple(-1, false, true, 2)) << "loading hides label and icon, and still clicks";

    // A theme is inherited down the tree and follows changes.
    QQuickItem* root = create(R"(Item { property string theme; onThemeChanged: outer.EQThemeKey.theme = theme
        Item { id: outer; Item { objectName: "inner"; Item { EchoquillWordmark {} } } } })");
    QQuickItem *inner = byObjectName(root, u"inner"_s), *word = byText(root, u"echoquill"_s);
    ASSERT_TRUE(inner && word);

    const auto wordColour = [&] { return word->property("color").value<QColor>(); };
    const QColor night = wordColour(); // nobody chose

    root->setProperty("theme", u"golden"_s);
    EXPECT_NE(wordColour(), night) << "the golden theme reaches the word mark two levels down";

    inner->setParentItem(root);
    EXPECT_EQ(wordColour(), night) << "moved out of the golden subtree";
}

TEST_F(ComponentsTest, AvatarShowsItsPictureOnceLoadedAndInitialsOtherwise)
{
    QImage red(8, 8, QImage::Format_RGB32);
    red.fill(Qt::red);
    QBuffer png;
    ASSERT_TRUE(red.save(&png, "PNG"));
    TestServer server;
    server.server().Get("/ada.png", [&](auto&, auto& r) { r.set_content(png.data().toStdString(), "image/png"); });
    // Still a readable picture, past the size cap.
    const std::string huge = png.data().toStdString() + std::string(AvatarPicture::maxImageBytes, '\0');
    server.server().Get("/huge.png", [&](auto&, auto& r) { r.set_content(huge, "image/png"); });
    server.start();
    QTemporaryDir dir;
    ASSERT_TRUE(red.save(dir.filePath(u"ada.png"_s)));

    QQuickItem* avatar = create(R"(EQAvatar { x: 20; y: 20; name: "ada lovelace king"; size: 40 })");
    QQuickItem *initials = byText(avatar, u"AL"_s), *picture = ofType(avatar, "AvatarPicture");
    ASSERT_TRUE(initials && picture);
    const auto loads = [&](const QUrl& source, int status) { // 2 is Ready, 3 Error
        avatar->setProperty("imageURL", source.toString());
        return waitUntil([&] { return picture->property("status").toInt() == status; });
    };
    ASSERT_TRUE(loads(server.url(u"/ada.png"_s), 2));
    EXPECT_FALSE(byText(avatar, u"AL"_s)) << "the picture replaces the initials";
    settle(&window);
    const QImage shot = window.grabWindow();
    EXPECT_EQ(shot.pixelColor(avatar->mapToScene({ 20, 20 }).toPoint()).name(), u"#ff0000"_s);
    EXPECT_NE(shot.pixelColor(avatar->mapToScene({ 1, 1 }).toPoint()).name(), u"#ff0000"_s) << "clipped to a circle";

    for (const QUrl& source : { server.url(u"/missing.png"_s), server.url(u"/huge.png"_s),
             QUrl::fromLocalFile(dir.filePath(u"ada.png"_s)) }) {
        ASSERT_TRUE(loads(server.url(u"/ada.png"_s), 2) && loads(source, 3)) << source.toString().toStdString();
        EXPECT_TRUE(byText(avatar, u"AL"_s)) << "a failed picture shows the initials";
    }
}

TEST_F(ComponentsTest, EndlessDecorationsMoveOnlyWhileTheirWindowIsActiveAndInUse)
{
    QQuickItem* ring = create(R"(RippleRing { x: 100; y: 100 })");
    QQuickItem* ripple = create(R"(EchoquillRipple { size: 60; property int paints: 0; onPaint: paints++ })");
    ASSERT_TRUE(ring && ripple);
    UserActivity& activity = *UserActivity::instance();
    activity.setRestAfter(std::chrono::milliseconds(300));
    // Frames drawn elsewhere drive every running animation: while at rest, the decorations' must not be among them.
    QQuickWindow other;
    other.resize(100, 100);
    other.show();
    const auto stillThrough = [&](int frames) {
        settle(&window); // a paint asked for before the rest lands in the next frame
        const double growth = ring->property("growth").toDouble();
        const int paints = ripple->property("paints").toInt();
        for (int frame = 0; frame < frames; ++frame)
            settle(&other), settle(&window);
        return ring->property("growth").toDouble() == growth && ripple->property("paints").toInt() == paints;
    };
    const auto moving = [&] {
        const double growth = ring->property("growth").toDouble();
        const int paints = ripple->property("paints").toInt();
        return waitUntil([&] { return ring->property("growth").toDouble() != growth; }, 3000)
            && waitUntil([&] { return ripple->property("paints").toInt() > paints + 2; }, 3000);
    };

    window.requestActivate();
    ASSERT_TRUE(waitUntil(
        [&] { return window.isActive() && !activity.recent() && ripple->property("paints").toInt() == 1; }, 3000));
    EXPECT_TRUE(stillThrough(5)) << "the window is active, but nobody has used it";
    EXPECT_GT(ring->opacity(), 0.1) << "at rest the ring shows one of its frames";

    QTest::mouseMove(&window, QPoint(20, 30));
    EXPECT_TRUE(moving()) << "the pointer moved over the window";
    ASSERT_TRUE(waitUntil([&] { return !activity.recent(); }, 3000));
    EXPECT_TRUE(stillThrough(5)) << "and came to rest once the user stopped";

    QTest::mouseMove(&window, QPoint(40, 50));
    ASSERT_TRUE(moving());
    other.requestActivate();
    ASSERT_TRUE(waitUntil([&] { return other.isActive() && !window.isActive(); }));
    EXPECT_TRUE(stillThrough(5)) << "nothing redraws the window while the user is in another one";
    activity.setRestAfter(std::chrono::seconds(10));
}

TEST(SymbolsAndFonts, EverySymbolTheScreensNameIsDrawnInItsTintAndRolesUseInterWhereInstalled)
{
    const QStringList used = u"house waveform checklist person.circle gearshape magnifyingglass xmark checkmark "
                             "sparkles text.bubble arrow.up.circle calendar folder chevron.left plus arrow.clockwise "
                             "speaker.wave.2.fill speaker.slash checkmark.circle.fill checkmark.seal "
                             "g.circle.fill"_s.split(u' ');
    const QColor tint(0xc4, 0x6a, 0x44);
    const auto tinted = [&](const QImage& image) {
        const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
        return image.isNull() ? 0 : std::count(pixels, pixels + image.width() * image.height(), tint.rgba());
    };
    for (const QString& name : used)
        EXPECT_GT(tinted(SymbolImageCache::image(name, 48, tint, Qt::white)), 20) << name.toStdString();
    EXPECT_TRUE(SymbolCatalog::svg(u"no.such.symbol"_s).isEmpty());

    // A symbol painted again in the same size and tint is not prepared again.
    const int prepared = SymbolImageCache::preparedCount();
    for (const QColor& color : { tint, tint, QColor(Qt::black) }) {
        EQSymbol symbol;
        symbol.setName(u"house"_s), symbol.setSize(40), symbol.setColor(color);
        QImage canvas(40, 40, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        symbol.paint(&painter);
        EXPECT_EQ(tinted(canvas) > 20, color == tint);
    }
    EXPECT_EQ(SymbolImageCache::preparedCount() - prepared, 2);

    // fonts-inter is installed by the project's dependencies; Inter Tight is not in Debian.
    const QFont button = EQFonts::forRole(EQTextRole::button);
    EXPECT_EQ(QStringList({ EQFonts::installedFamily(u"Inter-Bold"_s), EQFonts::installedFamily(u"InterTight-Medium"_s),
                  EQFonts::forRole(EQTextRole::h1).family(), button.family() }),
        QStringList({ u"Inter"_s, {}, QFontDatabase::systemFont(QFontDatabase::GeneralFont).family(), u"Inter"_s }));
    EXPECT_EQ(button.capitalization(), QFont::AllUppercase);
}
