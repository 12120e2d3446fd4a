#include "MeetingDetailModel.h"

#include "ScreenText.h"

using namespace Qt::StringLiterals;

namespace {

// The detail without its action items' done flags: what decides a redraw of the page.
MeetingNoteDetail withoutTicks(MeetingNoteDetail detail)
{
    for (V2ActionItem& item : detail.actionItems)
        item.done = false;
    return detail;
}

}

MeetingDetailModel::MeetingDetailModel(QObject* parent)
    : QObject(parent)
{
}

void MeetingDetailModel::setStore(MeetingStore* store)
{
    if (store == m_store)
        return;
    for (const auto& c : m_connections)
        disconnect(c);
    m_connections.clear();
    m_store = store;
    if (store) {
        for (auto signal : { &MeetingStore::meetingDetailChanged, &MeetingStore::selectedMeetingChanged,
                 &MeetingStore::isLoadingDetailChanged, &MeetingStore::errorChanged })
            m_connections.append(connect(store, signal, this, &MeetingDetailModel::refresh));
    }
    refresh();
    emit storeChanged();
}

void MeetingDetailModel::refresh()
{
    std::optional<MeetingNoteDetail> next;
    if (m_store && m_store->meetingDetail()) {
        const std::optional<MeetingNote>& selected = m_store->selectedMeeting();
        if (!selected || selected->id == m_store->meetingDetail()->id)
            next = m_store->meetingDetail();
    }
    const bool sameContent
        = next.has_value() == m_shown.has_value() && (!next || withoutTicks(*next) == withoutTicks(*m_shown));
    m_shown = next;
    m_actionItems.setItems(next ? next->actionItems : QList<V2ActionItem>());
    if (!sameContent)
        emit contentChanged();
    emit stateChanged();
}

bool MeetingDetailModel::isLoading() const
{
    return !m_shown && m_store && m_store->isLoadingDetail();
}

QString MeetingDetailModel::errorText() const
{
    if (m_shown || !m_store || m_store->isLoadingDetail())
        return {};
    return m_store->errorText();
}

QString MeetingDetailModel::title() const
{
    return m_shown ? m_shown->title : QString();
}

QString MeetingDetailModel::peopleLine() const
{
    return m_shown ? ScreenText::detailPeopleLine(*m_shown) : QString();
}

QStringList MeetingDetailModel::participants() const
{
    return m_shown ? m_shown->participants : QStringList();
}

QString MeetingDetailModel::summaryText() const
{
    return m_shown ? m_shown->summaryText.value_or(QString()) : QString();
}

QStringList MeetingDetailModel::decisions() const
{
    return m_shown ? m_shown->decisions : QStringList();
}

QVariantList MeetingDetailModel::topics() const
{
    QVariantList out;
    if (m_shown)
        for (const V2Topic& topic : m_shown->topics)
            out.append(
                QVariantMap { { u"title"_s, topic.title }, { u"bullets"_s, topic.bullets.value_or(QStringList()) } });
    return out;
}

QVariantList MeetingDetailModel::properties() const
{
    QVariantList out;
    if (m_shown)
        for (const ScreenText::PropertyRow& row : ScreenText::detailProperties(*m_shown))
            out.append(QVariantMap { { u"label"_s, row.label }, { u"value"_s, row.value } });
    return out;
}

void MeetingDetailModel::toggle(int row)
{
    if (!m_store || !m_shown || row < 0 || row >= m_actionItems.items().size())
        return;
    const V2ActionItem item = m_actionItems.items()[row];
    m_store->toggleActionItem(m_shown->id, item.key(), !item.done);
}
