#pragma once

#include <QPointF>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>

#include <functional>

// Finds items in a window's item tree and acts on them as a user would:
// real mouse clicks and key presses through the window.
namespace ScreenDriver {

// The first visible item for which `match` holds, depth first.
QQuickItem* find(QQuickItem* root, const std::function<bool(QQuickItem*)>& match);
// Every visible item for which `match` holds, top to bottom as laid out on screen.
QList<QQuickItem*> findAll(QQuickItem* root, const std::function<bool(QQuickItem*)>& match);
QQuickItem* byObjectName(QQuickItem* root, const QString& name);
QQuickItem* byText(QQuickItem* root, const QString& text);
// The first item of the QML type `type`, with `text` shown somewhere inside it when given.
QQuickItem* ofType(QQuickItem* root, const char* type, const QString& text = {});
// The text of the named item, "(missing)" when it is not shown.
QString textOf(QQuickItem* root, const QString& objectName);
// A pill or outline button by its label.
QQuickItem* button(QQuickItem* root, const QString& label);
// Whether an item of the QML type `type` is shown.
bool shows(QQuickItem* root, const char* type);

// Waits for the next frame, so every pending layout has placed its items.
void settle(QQuickWindow* window);
// Clicks the item's centre where the laid-out window shows it.
void click(QQuickWindow* window, QQuickItem* item);
// Clicks the field and types the text key by key.
void type(QQuickWindow* window, QQuickItem* field, const QString& text);
// Clicks the field and pastes the text in one edit.
void paste(QQuickWindow* window, QQuickItem* field, const QString& text);

}
