#pragma once

#include "FolderItem.h"
#include "SidebarTheme.h"

#include <QObject>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

// The sidebar's own state and fixed content: its theme and the colours that
// follow from it, the navigation items and the folders.
class SidebarModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // "night" or "golden".
    Q_PROPERTY(QString theme READ theme WRITE setTheme NOTIFY themeChanged)
    Q_PROPERTY(SidebarLook look READ look NOTIFY themeChanged)
    // [{key, name}] in switch order.
    Q_PROPERTY(QVariantList themes READ themes CONSTANT)
    // [{key, title, symbol}] in navigation order.
    Q_PROPERTY(QVariantList navItems READ navItems CONSTANT)
    // [{id, name, color}] in display order.
    Q_PROPERTY(QVariantList folders READ folders CONSTANT)

public:
    explicit SidebarModel(QObject* parent = nullptr);

    [[nodiscard]] QString theme() const { return SidebarThemes::key(m_theme); }
    void setTheme(const QString& key);
    [[nodiscard]] SidebarLook look() const { return SidebarThemes::look(m_theme); }
    [[nodiscard]] QVariantList themes() const;
    [[nodiscard]] QVariantList navItems() const;
    [[nodiscard]] QVariantList folders() const;

signals:
    void themeChanged();

private:
    SidebarTheme m_theme = SidebarThemes::initial;
    QList<FolderItem> m_folders;
};
