#include "EQTextStyle.h"

#include "EQFonts.h"

#include <QQmlEngine>
#include <QQmlInfo>
#include <QVariant>

EQTextStyle::EQTextStyle(QObject* text)
    : QObject(text)
{
}

QString EQTextStyle::roleName() const
{
    return m_role ? EQTextRoles::name(*m_role) : QString();
}

void EQTextStyle::setRoleName(const QString& name)
{
    const std::optional<EQTextRole> role = EQTextRoles::fromName(name);
    if (!role) {
        qmlWarning(parent()) << "unknown text role" << name;
        return;
    }
    if (!parent()->setProperty("font", EQFonts::forRole(*role)))
        qmlWarning(parent()) << "EQTextStyle needs an item with a font";
    if (role == m_role)
        return;
    m_role = role;
    emit roleChanged();
}
