#include "HomeMeetingsModel.h"

#include "ScreenText.h"

#include <QSet>

using namespace Qt::StringLiterals;

void HomeMeetingsModel::setMeetings(const QList<UpcomingMeeting>& ordered)
{
    for (const UpcomingMeeting& m : ordered) {
        if (!m_botStates.contains(m.id))
            m_botStates.insert(m.id, m.bot);
    }

    QSet<QString> kept;
    for (const UpcomingMeeting& m : ordered)
        kept.insert(m.id);
    for (qsizetype i = m_rows.size() - 1; i >= 0; --i) {
        if (kept.contains(m_rows[i].meeting.id))
            continue;
        beginRemoveRows({}, int(i), int(i));
        m_rows.removeAt(i);
        endRemoveRows();
    }

    // Rows before `i` are settled; the meeting for place `i` is moved up, changed in place or inserted.
    for (qsizetype i = 0; i < ordered.size(); ++i) {
        const Row wanted { ordered[i], i == 0 || ordered[i - 1].group != ordered[i].group };
        const qsizetype at = indexOf(wanted.meeting.id, i);
        if (at < 0) {
            beginInsertRows({}, int(i), int(i));
            m_rows.insert(i, wanted);
            endInsertRows();
            continue;
        }
        if (at != i) {
            beginMoveRows({}, int(at), int(at), {}, int(i));
            m_rows.move(at, i);
            endMoveRows();
        }
        Row& row = m_rows[i];
        if (row.meeting == wanted.meeting && row.firstInGroup == wanted.firstInGroup)
            continue;
        row = wanted;
        emit dataChanged(index(int(i)), index(int(i)));
    }
    // Left over only when the calendar repeats an id fewer times than before.
    if (m_rows.size() > ordered.size()) {
        beginRemoveRows({}, int(ordered.size()), int(m_rows.size()) - 1);
        m_rows.resize(ordered.size());
        endRemoveRows();
    }
}

void HomeMeetingsModel::setBotOn(const QString& meetingId, bool on)
{
    m_botStates.insert(meetingId, on);
    for (qsizetype i = indexOf(meetingId, 0); i >= 0; i = indexOf(meetingId, i + 1))
        emit dataChanged(index(int(i)), index(int(i)), { BotOnRole });
}

qsizetype HomeMeetingsModel::indexOf(const QString& meetingId, qsizetype from) const
{
    for (qsizetype i = from; i < m_rows.size(); ++i) {
        if (m_rows[i].meeting.id == meetingId)
            return i;
    }
    return -1;
}

QString HomeMeetingsModel::liveLine(const UpcomingMeeting& meeting)
{
    return meeting.time + u" · "_s + meeting.location + u" · "_s + QString::number(meeting.people.size())
        + u" people"_s;
}

int HomeMeetingsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant HomeMeetingsModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = m_rows[index.row()];
    const UpcomingMeeting& m = row.meeting;
    switch (role) {
    case MeetingIdRole:
        return m.id;
    case GroupRole:
        return m.group;
    case HeaderRole:
        return m.group == u"Now"_s ? QString() : m.group.toUpper();
    case FirstInGroupRole:
        return row.firstInGroup;
    case Qt::DisplayRole:
    case TitleRole:
        return m.title;
    case WeekdayRole:
        return ScreenText::timeParts(m.time)[0];
    case ClockRole:
        return ScreenText::timeParts(m.time)[1];
    case DurationRole:
        return m.duration;
    case LocationRole:
        return m.location;
    case PeopleRole:
        return m.people;
    case MeetingUrlRole:
        return m.meetingUrlText();
    case LiveRole:
        return m.live;
    case DeclinedRole:
        return m.declined;
    case SnippetRole:
        return m.snippetText();
    case LiveLineRole:
        return liveLine(m);
    case BotOnRole:
        return botOn(m.id);
    }
    return {};
}

QHash<int, QByteArray> HomeMeetingsModel::roleNames() const
{
    return {
        { MeetingIdRole, "meetingId" },
        { GroupRole, "group" },
        { HeaderRole, "header" },
        { FirstInGroupRole, "firstInGroup" },
        { TitleRole, "title" },
        { WeekdayRole, "weekday" },
        { ClockRole, "clock" },
        { DurationRole, "duration" },
        { LocationRole, "location" },
        { PeopleRole, "people" },
        { MeetingUrlRole, "meetingUrl" },
        { LiveRole, "live" },
        { DeclinedRole, "declined" },
        { SnippetRole, "snippet" },
        { LiveLineRole, "liveLine" },
        { BotOnRole, "botOn" },
    };
}
