#pragma once

#include "ActionListItem.h"
#include "DateText.h"

#include <QAbstractListModel>

// The action items in screen order, one row each, with the label of the day
// section each row sits in (for a list view's section headers). Ticking one
// item changes that row only.
class ActionItemsModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        IdentityRole = Qt::UserRole + 1,
        SectionRole,
        IdRole,
        MeetingIdRole,
        MeetingSourceRole,
        MeetingTitleRole,
        MeetingDateRole,
        WhoRole,
        WhatRole,
        DueRole,
        DoneRole,
    };

    using QAbstractListModel::QAbstractListModel;

    void setSections(const QList<DateText::DaySection<ActionListItem>>& sections);
    void setDone(const QString& identity, bool done);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

private:
    struct Row {
        QString section;
        ActionListItem item;
    };
    QList<Row> m_rows;
};
