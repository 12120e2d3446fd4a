#pragma once

#include "MeetingNoteDetail.h"

#include <QAbstractListModel>
#include <QtQml/qqmlregistration.h>

// The action items of the open note, one row each. Ticking an item changes
// its row only; a different list of items replaces the rows.
class NoteActionItemsModel : public QAbstractListModel {
    Q_OBJECT
    QML_ANONYMOUS
public:
    enum Role {
        KeyRole = Qt::UserRole + 1,
        WhoRole,
        WhatRole,
        DueRole,
        DoneRole,
    };

    using QAbstractListModel::QAbstractListModel;

    void setItems(const QList<V2ActionItem>& items);
    [[nodiscard]] const QList<V2ActionItem>& items() const { return m_items; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

private:
    QList<V2ActionItem> m_items;
};
