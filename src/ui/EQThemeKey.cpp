#include "EQThemeKey.h"

#include <QQmlEngine>
#include <QQmlInfo>
#include <QQuickItem>
#include <QtQml/qqml.h>

EQThemeKey::EQThemeKey(QObject* attachee)
    : QObject(attachee)
    , m_item(qobject_cast<QQuickItem*>(attachee))
{
    if (m_item) {
        connect(m_item, &QQuickItem::parentChanged, this, &EQThemeKey::followParent);
        followParent();
    }
}

EQThemeKey* EQThemeKey::qmlAttachedProperties(QObject* object)
{
    return new EQThemeKey(object);
}

EQTheme EQThemeKey::theme() const
{
    return m_effective;
}

void EQThemeKey::setThemeText(const QString& text)
{
    const std::optional<EQTheme> theme = EQThemes::fromText(text);
    if (!theme) {
        qmlWarning(parent()) << "unknown theme" << text;
        return;
    }
    m_own = theme;
    update();
}

void EQThemeKey::resetTheme()
{
    m_own.reset();
    update();
}

void EQThemeKey::followParent()
{
    disconnect(m_inheritedConnection);
    m_inherited = nullptr;
    if (QQuickItem* parentItem = m_item->parentItem()) {
        m_inherited = qobject_cast<EQThemeKey*>(qmlAttachedPropertiesObject<EQThemeKey>(parentItem, true));
        if (m_inherited)
            m_inheritedConnection = connect(m_inherited, &EQThemeKey::themeChanged, this, &EQThemeKey::update);
    }
    update();
}

void EQThemeKey::update()
{
    const EQTheme effective = m_own ? *m_own : (m_inherited ? m_inherited->theme() : EQThemes::defaultTheme);
    if (effective == m_effective)
        return;
    m_effective = effective;
    emit themeChanged();
}
