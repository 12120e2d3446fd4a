#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

class QQuickItem;

// Makes an item a control the keyboard can use. `KeyActivation.onActivated:
// button.activated()` on an item lets it take focus with Tab and Shift+Tab,
// and Space, Return and Enter then activate it as a click would. With
// `KeyActivation.isListItem` the arrow keys move to the previous or next
// control, as in a list. A control that takes focus inside a scrolled view
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
    void moveFocus(bool forward);
    void scrollIntoSight();

    QQuickItem* m_item = nullptr;
    bool m_isListItem = false;
};
