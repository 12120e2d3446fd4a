#include "MainNavigation.h"

#include "MeetingSearch.h"

#include <QQmlInfo>

#include <algorithm>

MainNavigation::MainNavigation(QObject* parent)
    : QObject(parent)
{
}

void MainNavigation::setMeetingStore(MeetingStore* store)
{
    if (store == m_meetingStore)
        return;
    disconnect(m_requestConnection);
    m_meetingStore = store;
    if (store)
        m_requestConnection
            = connect(store, &MeetingStore::navigateToMeetingIdChanged, this, &MainNavigation::openRequestedMeeting);
    emit meetingStoreChanged();
}

void MainNavigation::setSelectedNav(NavItem item)
{
    if (item == m_selectedNav)
        return;
    m_selectedNav = item;
    emit selectedNavChanged();
}

void MainNavigation::setSelectedNavKey(const QString& key)
{
    if (const std::optional<NavItem> item = NavItems::fromKey(key))
        setSelectedNav(*item);
    else
        qmlWarning(this) << "unknown navigation item" << key;
}

void MainNavigation::setSearchText(const QString& text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    emit searchTextChanged();
    if (MeetingSearch::isActive(text)) {
        // The results are the list, so an open note gives way to it.
        if (m_meetingStore)
            m_meetingStore->setSelectedMeeting(std::nullopt);
        setSelectedNav(NavItem::meetings);
    }
}

void MainNavigation::appear()
{
    if (m_meetingStore)
        m_meetingStore->loadMeetings();
}

void MainNavigation::openRequestedMeeting()
{
    MeetingStore* store = m_meetingStore;
    const std::optional<qint64> id = store->navigateToMeetingId();
    if (!id)
        return;
    const QList<MeetingNote>& meetings = store->meetings();
    const auto note = std::find_if(meetings.begin(), meetings.end(), [&](const MeetingNote& n) { return n.id == *id; });
    if (note != meetings.end()) {
        const MeetingNote found = *note;
        setSelectedNav(NavItem::meetings);
        store->setSelectedMeeting(found);
        store->loadDetail(found.id);
    }
    store->setNavigateToMeetingId(std::nullopt);
}
