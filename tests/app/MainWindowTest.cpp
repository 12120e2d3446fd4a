#include "AppDelegate.h"
#include "Await.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Echoquill_AppPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)

namespace {

QQuickItem *findByText(QQuickItem *root, const QString &text)
{
    if (root->property("text").toString() == text)
        return root;
    for (QQuickItem *child : root->childItems())
        if (QQuickItem *hit = findByText(child, text))
            return hit;
    return nullptr;
}

}

TEST(MainWindow, OpensAtDefaultSizeAndRefusesToShrinkBelowTheMinimum)
{
    AppDelegate delegate;
    QQmlApplicationEngine engine;
    delegate.exposeTo(engine);
    engine.load(QUrl(QStringLiteral("qrc:/Echoquill/App/Main.qml")));
    ASSERT_EQ(engine.rootObjects().size(), 1);
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    ASSERT_TRUE(window);
    ASSERT_TRUE(waitUntil([&] { return window->isExposed(); }));

    EXPECT_EQ(window->size(), QSize(1200, 800));
    EXPECT_EQ(window->color(), QColor(u"#f6e3cf"));
    EXPECT_TRUE(findByText(window->contentItem(), QStringLiteral("Your data stays yours."))) << "the gate shows the sign-in side";

    // Ask for a much smaller window; the window system must keep the minimum.
    window->resize(500, 300);
    waitUntil([&] { return window->width() >= 960; }, 5000);
    EXPECT_GE(window->width(), 960);
    EXPECT_GE(window->height(), 640);
}
