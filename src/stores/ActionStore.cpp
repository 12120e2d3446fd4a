#include "ActionStore.h"

#include "APIClient.h"
#include "DayClock.h"
#include "Endpoints.h"
#include "Log.h"

#include <QPointer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

namespace listRequest {

struct Resp {
    std::optional<bool> success;
    std::optional<QList<ActionListItem>> data;
    static Resp fromJson(const Json::ObjectReader& r)
    {
        return { r.optional<bool>("success"_L1), r.optional<QList<ActionListItem>>("data"_L1) };
    }
};

}

namespace toggleRequest {

struct Body {
    bool done;
    QJsonObject toJson() const { return QJsonObject { { u"done"_s, done } }; }
};

struct Resp {
    std::optional<bool> success;
    static Resp fromJson(const Json::ObjectReader& r) { return { r.optional<bool>("success"_L1) }; }
};

}

bool sameFields(const ActionListItem& a, const ActionListItem& b)
{
    return a.id == b.id && a.meetingId == b.meetingId && a.meetingSource == b.meetingSource
        && a.meetingTitle == b.meetingTitle && a.meetingDate == b.meetingDate && a.who == b.who && a.what == b.what
        && a.due == b.due && a.done == b.done;
}

}

ActionStore::ActionStore(TokenProvider tokens, QObject* parent)
    : QObject(parent)
    , m_tokens(std::move(tokens))
    , m_sections(this)
{
    // "Today" and "Yesterday" move on at midnight.
    connect(&DayClock::shared(), &DayClock::dayChanged, this, [this] { m_sections.setSections(grouped()); });
}

QString ActionStore::identityOf(const ActionListItem& item)
{
    return QString::number(item.meetingId) + u'_' + item.id;
}

QCoro::Task<> ActionStore::load()
{
    QPointer self(this);
    setLoading(true);
    try {
        const listRequest::Resp reply = co_await APIClient::shared().get<listRequest::Resp>(
            Endpoints::url(Endpoints::Path::actionItems), m_tokens());
        if (!self)
            co_return;
        setItems(reply.data.value_or(QList<ActionListItem>()));
    } catch (const EQAPIError& e) {
        if (!self)
            co_return;
        Log::line(u"[ActionStore] load failed: "_s + e.description());
    }
    setLoading(false);
}

QCoro::Task<> ActionStore::toggle(ActionListItem item)
{
    const QString identity = identityOf(item);
    const ActionListItem* stored = find(identity);
    if (!stored)
        co_return;
    const bool old = stored->done;
    setDone(identity, !old);

    QPointer self(this);
    try {
        const toggleRequest::Body body { !old };
        const QUrl url = Endpoints::actionItemURL(QString::number(item.meetingId), item.id, item.meetingSource);
        co_await APIClient::shared().patch<toggleRequest::Resp>(url, body, m_tokens());
    } catch (const EQAPIError&) {
        // The list may have been reloaded meanwhile: find the item again by identity.
        if (self)
            setDone(identity, old);
    }
}

QList<DateText::DaySection<ActionListItem>> ActionStore::grouped() const
{
    return DateText::groupByDay<ActionListItem>(m_items, [](const ActionListItem& i) { return i.meetingDate; });
}

void ActionStore::setItems(const QList<ActionListItem>& items)
{
    if (std::equal(items.begin(), items.end(), m_items.begin(), m_items.end(), sameFields))
        return;
    m_items = items;
    m_sections.setSections(grouped());
    emit itemsChanged();
}

ActionListItem* ActionStore::find(const QString& identity)
{
    const auto it = std::find_if(
        m_items.begin(), m_items.end(), [&](const ActionListItem& i) { return identityOf(i) == identity; });
    return it == m_items.end() ? nullptr : &*it;
}

void ActionStore::setDone(const QString& identity, bool done)
{
    ActionListItem* item = find(identity);
    if (!item || item->done == done)
        return;
    item->done = done;
    m_sections.setDone(identity, done);
    emit itemDoneChanged(identity);
}

void ActionStore::setLoading(bool on)
{
    if (on == m_isLoading)
        return;
    m_isLoading = on;
    emit isLoadingChanged();
}
