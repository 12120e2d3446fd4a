#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QUuid>

// One folder of the sidebar: a name with its colour dot.
struct FolderItem {
    QUuid id;
    QString name;
    QColor color;

    // The sidebar's fixed folders, in order, each with a fresh identifier.
    [[nodiscard]] static QList<FolderItem> sidebarFolders();
};
