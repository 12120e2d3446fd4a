#include "ActionsViewModel.h"

#include "ScreenText.h"

#include <algorithm>

ActionsViewModel::ActionsViewModel(QObject* parent)
    : QObject(parent)
{
}

void ActionsViewModel::setStore(ActionStore* store)
{
    if (store == m_store)
        return;
    for (const auto& c : m_connections)
        disconnect(c);
    m_connections.clear();
    m_store = store;
    if (store) {
        m_connections << connect(store, &ActionStore::itemsChanged, this, &ActionsViewModel::countsChanged);
        m_connections << connect(store, &ActionStore::itemDoneChanged, this, &ActionsViewModel::countsChanged);
    }
    emit storeChanged();
    emit countsChanged();
}

QString ActionsViewModel::openLine() const
{
    if (!m_store)
        return {};
    const QList<ActionListItem>& items = m_store->items();
    return ScreenText::openItemsLine(
        int(std::count_if(items.begin(), items.end(), [](const ActionListItem& i) { return !i.done; })));
}

void ActionsViewModel::load()
{
    if (m_store)
        m_store->load();
}

void ActionsViewModel::toggle(const QString& identity)
{
    if (!m_store)
        return;
    const QList<ActionListItem>& items = m_store->items();
    const auto it = std::find_if(
        items.begin(), items.end(), [&](const ActionListItem& i) { return ActionStore::identityOf(i) == identity; });
    if (it != items.end())
        m_store->toggle(*it);
}
