#include "NoteActionItemsModel.h"

#include <algorithm>

void NoteActionItemsModel::setItems(const QList<V2ActionItem>& items)
{
    const bool sameItems = items.size() == m_items.size()
        && std::equal(items.begin(), items.end(), m_items.begin(),
            [](const V2ActionItem& a, const V2ActionItem& b) { return a.key() == b.key(); });
    if (!sameItems) {
        beginResetModel();
        m_items = items;
        endResetModel();
        return;
    }
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i] == m_items[i])
            continue;
        m_items[i] = items[i];
        emit dataChanged(index(int(i)), index(int(i)));
    }
}

int NoteActionItemsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant NoteActionItemsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size())
        return {};
    const V2ActionItem& item = m_items[index.row()];
    switch (role) {
    case KeyRole:
        return item.key();
    case WhoRole:
        return item.who;
    case WhatRole:
        return item.what;
    case DueRole:
        return item.due.value_or(QString());
    case DoneRole:
        return item.done;
    }
    return {};
}

QHash<int, QByteArray> NoteActionItemsModel::roleNames() const
{
    return { { KeyRole, "itemKey" }, { WhoRole, "who" }, { WhatRole, "what" }, { DueRole, "due" },
        { DoneRole, "done" } };
}
