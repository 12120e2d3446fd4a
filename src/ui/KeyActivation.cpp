#include "KeyActivation.h"

#include <algorithm>
#include <cmath>

#include <QKeyEvent>
#include <QQmlEngine>
#include <QQmlInfo>
#include <QQuickItem>
#include <QQuickWindow>

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
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (!m_isListItem)
            return false;
        moveInList(Qt::Key(key->key()));
        return true;
    default:
        return false;
    }
}

QQuickItem* KeyActivation::neighbour(QQuickItem* item, bool forward) const
{
    QQuickItem* next = item->nextItemInFocusChain(forward);
    const auto* attached
        = next ? qobject_cast<KeyActivation*>(qmlAttachedPropertiesObject<KeyActivation>(next, false)) : nullptr;
    const bool sameList = attached && attached->m_isListItem && next != m_item
        && flickableAround(next) == flickableAround(m_item) && (forward ? isBelow(next, item) : isBelow(item, next));
    return sameList ? next : nullptr;
}

// Up and Down go to the row before or after, Home and End to the first and the last, Page Up and
// Page Down a view's height; never past the rows of this list.
void KeyActivation::moveInList(Qt::Key key)
{
    const bool forward = key == Qt::Key_Down || key == Qt::Key_End || key == Qt::Key_PageDown;
    const bool byPage = key == Qt::Key_PageUp || key == Qt::Key_PageDown;
    QQuickItem* view = flickableAround(m_item);
    const qreal page = view ? view->height() : m_item->window() ? m_item->window()->height() : 0;
    const qreal start = m_item->mapToScene(QPointF(0, 0)).y();
    QQuickItem* target = m_item;
    for (QQuickItem* next = neighbour(m_item, forward); next; next = neighbour(next, forward)) {
        target = next;
        if (key == Qt::Key_Up || key == Qt::Key_Down
            || (byPage && std::abs(next->mapToScene(QPointF(0, 0)).y() - start) >= page))
            break;
    }
    if (target != m_item)
        target->forceActiveFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

bool KeyActivation::isBelow(const QQuickItem* lower, const QQuickItem* upper)
{
    return lower->mapToScene(QPointF(0, 0)).y() > upper->mapToScene(QPointF(0, 0)).y();
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
