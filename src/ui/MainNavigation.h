#pragma once

#include "MeetingStore.h"
#include "NavItem.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The main window's navigation state: the selected sidebar item, the
// sidebar's search text, the first load of the meeting notes, and opening a
// note that another screen asked for through `navigateToMeetingId`.
class MainNavigation : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(MeetingStore* meetingStore READ meetingStore WRITE setMeetingStore NOTIFY meetingStoreChanged)
    // The selected item's key: "home", "meetings", "actions" or "profile".
    Q_PROPERTY(QString selectedNav READ selectedNavKey WRITE setSelectedNavKey NOTIFY selectedNavChanged)
    // Entering text shows the meetings, filtered by it; clearing it shows them all.
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)

public:
    explicit MainNavigation(QObject* parent = nullptr);

    [[nodiscard]] MeetingStore* meetingStore() const { return m_meetingStore; }
    void setMeetingStore(MeetingStore* store);
    [[nodiscard]] NavItem selectedNav() const { return m_selectedNav; }
    void setSelectedNav(NavItem item);
    [[nodiscard]] QString selectedNavKey() const { return NavItems::key(m_selectedNav); }
    void setSelectedNavKey(const QString& key);
    [[nodiscard]] QString searchText() const { return m_searchText; }
    void setSearchText(const QString& text);

    // The main view has appeared: start loading the meeting notes.
    Q_INVOKABLE void appear();

signals:
    void meetingStoreChanged();
    void selectedNavChanged();
    void searchTextChanged();

private:
    void openRequestedMeeting();

    QPointer<MeetingStore> m_meetingStore;
    QMetaObject::Connection m_requestConnection;
    NavItem m_selectedNav = NavItem::home;
    QString m_searchText;
};
