#pragma once

#include "UpcomingMeeting.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QtQml/qqmlregistration.h>

// The home screen's meeting rows, one per meeting in group order, each with
// its meeting-bot switch position. A new calendar is merged in by meeting id
// (rows are inserted, moved, removed or changed in place), so a row's item,
// its hover state and a running animation live as long as its meeting does.
class HomeMeetingsModel : public QAbstractListModel {
    Q_OBJECT
    QML_ANONYMOUS
public:
    enum Role {
        MeetingIdRole = Qt::UserRole + 1,
        GroupRole,
        // The group's label, shown over its first row; empty for "Now".
        HeaderRole,
        FirstInGroupRole,
        TitleRole,
        WeekdayRole,
        ClockRole,
        DurationRole,
        LocationRole,
        PeopleRole,
        MeetingUrlRole,
        LiveRole,
        DeclinedRole,
        SnippetRole,
        LiveLineRole,
        BotOnRole,
    };

    using QAbstractListModel::QAbstractListModel;

    // `ordered` is the meetings in screen order. A meeting seen for the first
    // time takes its switch position from the calendar; later ones keep the user's.
    void setMeetings(const QList<UpcomingMeeting>& ordered);
    void setBotOn(const QString& meetingId, bool on);
    [[nodiscard]] bool botOn(const QString& meetingId) const { return m_botStates.value(meetingId, false); }
    // "LIVE" hero line: "9:30 AM · Google Meet · 4 people".
    [[nodiscard]] static QString liveLine(const UpcomingMeeting& meeting);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

private:
    struct Row {
        UpcomingMeeting meeting;
        bool firstInGroup = false;
    };
    [[nodiscard]] qsizetype indexOf(const QString& meetingId, qsizetype from) const;

    QList<Row> m_rows;
    QHash<QString, bool> m_botStates;
};
