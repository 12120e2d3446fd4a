#include "ActionItemsModel.h"

#include "ActionStore.h"

void ActionItemsModel::setSections(const QList<DateText::DaySection<ActionListItem>>& sections)
{
    beginResetModel();
    m_rows.clear();
    for (const auto& section : sections)
        for (const ActionListItem& item : section.items)
            m_rows.append(Row { section.label, item });
    endResetModel();
}

void ActionItemsModel::setDone(const QString& identity, bool done)
{
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        ActionListItem& item = m_rows[i].item;
        if (ActionStore::identityOf(item) != identity)
            continue;
        if (item.done != done) {
            item.done = done;
            const QModelIndex changed = index(int(i));
            emit dataChanged(changed, changed, { DoneRole });
        }
        return;
    }
}

int ActionItemsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ActionItemsModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = m_rows[index.row()];
    const ActionListItem& item = row.item;
    switch (role) {
    case IdentityRole:
        return ActionStore::identityOf(item);
    case SectionRole:
        return row.section;
    case IdRole:
        return item.id;
    case MeetingIdRole:
        return item.meetingId;
    case MeetingSourceRole:
        return item.meetingSource;
    case MeetingTitleRole:
        return item.meetingTitle;
    case MeetingDateRole:
        return item.meetingDate;
    case WhoRole:
        return item.who;
    case Qt::DisplayRole:
    case WhatRole:
        return item.what;
    case DueRole:
        return item.due ? QVariant(*item.due) : QVariant();
    case DoneRole:
        return item.done;
    }
    return {};
}

QHash<int, QByteArray> ActionItemsModel::roleNames() const
{
    return {
        { IdentityRole, "identity" },
        { SectionRole, "section" },
        { IdRole, "itemId" },
        { MeetingIdRole, "meetingId" },
        { MeetingSourceRole, "meetingSource" },
        { MeetingTitleRole, "meetingTitle" },
        { MeetingDateRole, "meetingDate" },
        { WhoRole, "who" },
        { WhatRole, "what" },
        { DueRole, "due" },
        { DoneRole, "done" },
    };
}
