#include "SidebarModel.h"

#include "NavItem.h"

#include <QQmlInfo>
#include <QVariantMap>

using namespace Qt::StringLiterals;

SidebarModel::SidebarModel(QObject* parent)
    : QObject(parent)
    , m_folders(FolderItem::sidebarFolders())
{
}

void SidebarModel::setTheme(const QString& key)
{
    const std::optional<SidebarTheme> theme = SidebarThemes::fromKey(key);
    if (!theme) {
        qmlWarning(this) << "unknown sidebar theme" << key;
        return;
    }
    if (*theme == m_theme)
        return;
    m_theme = *theme;
    emit themeChanged();
}

QVariantList SidebarModel::themes() const
{
    QVariantList list;
    for (SidebarTheme theme : SidebarThemes::allCases())
        list.append(
            QVariantMap { { u"key"_s, SidebarThemes::key(theme) }, { u"name"_s, SidebarThemes::displayName(theme) } });
    return list;
}

QVariantList SidebarModel::navItems() const
{
    QVariantList list;
    for (NavItem item : NavItems::allCases())
        list.append(QVariantMap { { u"key"_s, NavItems::key(item) }, { u"title"_s, NavItems::title(item) },
            { u"symbol"_s, NavItems::symbol(item) } });
    return list;
}

QVariantList SidebarModel::folders() const
{
    QVariantList list;
    for (const FolderItem& folder : m_folders)
        list.append(QVariantMap { { u"id"_s, folder.id.toString(QUuid::WithoutBraces) }, { u"name"_s, folder.name },
            { u"color"_s, folder.color } });
    return list;
}
