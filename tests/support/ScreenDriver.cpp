#include "ScreenDriver.h"

#include "Await.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>

#include <algorithm>

#include <gtest/gtest.h>

namespace ScreenDriver {

QQuickItem* find(QQuickItem* root, const std::function<bool(QQuickItem*)>& match)
{
    if (!root || !root->isVisible())
        return nullptr;
    if (match(root))
        return root;
    for (QQuickItem* child : root->childItems())
        if (QQuickItem* hit = find(child, match))
            return hit;
    return nullptr;
}

QList<QQuickItem*> findAll(QQuickItem* root, const std::function<bool(QQuickItem*)>& match)
{
    QList<QQuickItem*> found;
    find(root, [&](QQuickItem* item) {
        if (match(item))
            found << item;
        return false;
    });
    std::stable_sort(found.begin(), found.end(), [](QQuickItem* a, QQuickItem* b) {
        return a->mapToScene({ 0, 0 }).y() < b->mapToScene({ 0, 0 }).y();
    });
    return found;
}

QQuickItem* byObjectName(QQuickItem* root, const QString& name)
{
    return find(root, [&](QQuickItem* item) { return item->objectName() == name; });
}

QQuickItem* byText(QQuickItem* root, const QString& text)
{
    return find(root, [&](QQuickItem* item) { return item->property("text").toString() == text; });
}

QQuickItem* ofType(QQuickItem* root, const char* type, const QString& text)
{
    return find(root, [&](QQuickItem* item) {
        return QByteArray(item->metaObject()->className()).startsWith(type) && (text.isEmpty() || byText(item, text));
    });
}

QString textOf(QQuickItem* root, const QString& objectName)
{
    QQuickItem* item = byObjectName(root, objectName);
    return item ? item->property("text").toString() : QStringLiteral("(missing)");
}

QQuickItem* button(QQuickItem* root, const QString& label)
{
    return find(root, [&](QQuickItem* item) { return item->property("label").toString() == label; });
}

bool shows(QQuickItem* root, const char* type)
{
    return ofType(root, type) != nullptr;
}

void settle(QQuickWindow* window)
{
    bool synced = false;
    const auto connection = QObject::connect(window, &QQuickWindow::afterSynchronizing, [&] { synced = true; });
    window->update();
    // A window that is not (or no longer) on screen makes no frames.
    EXPECT_TRUE(waitUntil([&] { return synced || !window->isExposed(); }, 10000)) << "the window made no frame";
    QObject::disconnect(connection);
}

void click(QQuickWindow* window, QQuickItem* item)
{
    ASSERT_TRUE(item);
    settle(window);
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, {}, centre.toPoint());
    settle(window);
}

void type(QQuickWindow* window, QQuickItem* field, const QString& text)
{
    click(window, field);
    for (QChar c : text)
        QTest::keyClick(window, c.toLatin1());
    settle(window);
}

void paste(QQuickWindow* window, QQuickItem* field, const QString& text)
{
    click(window, field);
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(window, Qt::Key_V, Qt::ControlModifier);
    settle(window);
}

}
