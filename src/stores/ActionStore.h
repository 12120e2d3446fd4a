#pragma once

#include "ActionItemsModel.h"
#include "ActionListItem.h"
#include "DateText.h"
#include "TokenProvider.h"

#include <QCoroTask>
#include <QObject>

// Every action item of the user across all meeting notes, grouped by the day
// of their meeting, with an optimistic done switch.
class ActionStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(ActionItemsModel* sections READ sections CONSTANT)
public:
    explicit ActionStore(TokenProvider tokens, QObject* parent = nullptr);

    QCoro::Task<> load();
    // Flips the stored item with the same identity; a refusal flips it back.
    QCoro::Task<> toggle(ActionListItem item);

    // "42_a1": an item id is unique only within its meeting note.
    [[nodiscard]] static QString identityOf(const ActionListItem& item);

    [[nodiscard]] const QList<ActionListItem>& items() const { return m_items; }
    [[nodiscard]] QList<DateText::DaySection<ActionListItem>> grouped() const;
    // The grouped items for the screen; rebuilt when the list is replaced.
    [[nodiscard]] ActionItemsModel* sections() { return &m_sections; }
    [[nodiscard]] bool isLoading() const { return m_isLoading; }

signals:
    void itemsChanged();
    void itemDoneChanged(const QString& identity);
    void isLoadingChanged();

private:
    void setItems(const QList<ActionListItem>& items);
    ActionListItem* find(const QString& identity);
    void setDone(const QString& identity, bool done);
    void setLoading(bool on);

    TokenProvider m_tokens;
    QList<ActionListItem> m_items;
    bool m_isLoading = false;
    ActionItemsModel m_sections;
};
