#include "KeyActivation.h"

#include <algorithm>

#include <QKeyEvent>
#include <QQmlInfo>
#include <QQuickItem>

namespace {

// The nearest scrolled view around `item`: a Flickable (or ListView, …).
QQuickItem* flickableAround(QQuickItem* item)
{
    for (QQuickItem* up = item->parentItem(); up; up = up->parentItem())
        if (up->inherits("QQuickFlickable"))
            return up;
    return nullptr;
}

}

KeyActivation::KeyActivation(QObject* item)
    : QObject(item)
    , m_item(qobject_cast<QQuickItem*>(item))
{
    if (!m_item) {
        qmlWarning(item) << "KeyActivation needs an item";
        return;
    }
    m_item->setActiveFocusOnTab(true);
    m_item->installEventFilter(this);
}

bool KeyActivation::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        scrollIntoSight();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    switch (key->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!key->isAutoRepeat())
            emit activated();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (!m_isListItem)
            return false;
        moveFocus(key->key() == Qt::Key_Down);
        return true;
    default:
        return false;
    }
}

void KeyActivation::moveFocus(bool forward)
{
    QQuickItem* next = m_item->nextItemInFocusChain(forward);
    if (next && next != m_item)
        next->forceActiveFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

// Moves the view's content the least that shows the whole item (its top when
// it is taller than the view).
void KeyActivation::scrollIntoSight()
{
    QQuickItem* view = flickableAround(m_item);
    if (!view)
        return;
    const qreal contentY = view->property("contentY").toReal();
    const qreal top = m_item->mapToItem(view, QPointF(0, 0)).y() + contentY;
    const qreal bottom = top + m_item->height();
    qreal target = contentY;
    if (bottom > contentY + view->height())
        target = bottom - view->height();
    if (top < target)
        target = top;
    const qreal origin = view->property("originY").toReal();
    const qreal highest = origin + view->property("contentHeight").toReal() - view->height();
    target = std::clamp(target, origin, std::max(origin, highest));
    if (target != contentY)
        view->setProperty("contentY", target);
}
