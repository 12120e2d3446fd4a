#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

class QQuickItem;

// Makes an item a control the keyboard can use. `KeyActivation.onActivated:
// button.activated()` on an item lets it take focus with Tab and Shift+Tab,
// and Space, Return and Enter then activate it as a click would. With
// `KeyActivation.isListItem` the arrow keys, Home, End, Page Up and Page Down
// move between the rows of its list. A control that takes focus inside a scrolled view
// is scrolled into sight.
class KeyActivation : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("KeyActivation is applied as an attached property")
    QML_ATTACHED(KeyActivation)
    Q_PROPERTY(bool isListItem MEMBER m_isListItem NOTIFY isListItemChanged)

public:
    explicit KeyActivation(QObject* item);
    static KeyActivation* qmlAttachedProperties(QObject* object) { return new KeyActivation(object); }

signals:
    void activated();
    void isListItemChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void moveInList(Qt::Key key);
    // The next row of this list after `item` in the focus chain, going `forward` or back; none past its ends.
    [[nodiscard]] QQuickItem* neighbour(QQuickItem* item, bool forward) const;
    [[nodiscard]] static bool isBelow(const QQuickItem* lower, const QQuickItem* upper);
    void scrollIntoSight();

    QQuickItem* m_item = nullptr;
    bool m_isListItem = false;
};
