#include "MeetingListModel.h"

#include "DayClock.h"
#include "MeetingSearch.h"
#include "ScreenText.h"

MeetingListModel::MeetingListModel(QObject* parent)
    : QAbstractListModel(parent)
{
    m_refresh.setInterval(30000);
    connect(&m_refresh, &QTimer::timeout, this, [this] {
        if (!m_rows.isEmpty())
            emit dataChanged(index(0), index(int(m_rows.size()) - 1), { RelativeTimeRole });
    });
    m_refresh.start();
    // The day sections ("Today", "Yesterday") move on at midnight.
    connect(&DayClock::shared(), &DayClock::dayChanged, this, &MeetingListModel::rebuild);
}

void MeetingListModel::setStore(MeetingStore* store)
{
    if (store == m_store)
        return;
    disconnect(m_storeConnection);
    m_store = store;
    if (store)
        m_storeConnection = connect(store, &MeetingStore::meetingsChanged, this, &MeetingListModel::rebuild);
    rebuild();
    emit storeChanged();
}

void MeetingListModel::setSearchText(const QString& text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    rebuild();
    emit searchTextChanged();
}

void MeetingListModel::setRefreshInterval(int ms)
{
    if (ms == m_refresh.interval())
        return;
    m_refresh.start(ms);
    emit refreshIntervalChanged();
}

void MeetingListModel::rebuild()
{
    QList<Row> rows;
    if (m_store) {
        const QList<MeetingNote> found = MeetingSearch::filtered(m_store->meetings(), m_searchText);
        const auto sections
            = DateText::groupByDay<MeetingNote>(found, [](const MeetingNote& n) { return n.createdDateTime; });
        for (const auto& section : sections)
            for (const MeetingNote& note : section.items)
                rows.append({ section.label, note });
    }
    const bool sameRows = rows.size() == m_rows.size()
        && std::equal(rows.begin(), rows.end(), m_rows.begin(),
            [](const Row& a, const Row& b) { return a.section == b.section && a.note.listKey() == b.note.listKey(); });
    if (sameRows) {
        // The same notes in the same places: refresh their texts without recreating the rows.
        m_rows = rows;
        if (!m_rows.isEmpty())
            emit dataChanged(index(0), index(int(m_rows.size()) - 1));
        return;
    }
    beginResetModel();
    m_rows = rows;
    endResetModel();
    emit countChanged();
}

void MeetingListModel::open(int row)
{
    if (!m_store || row < 0 || row >= m_rows.size())
        return;
    const MeetingNote note = m_rows[row].note;
    m_store->setSelectedMeeting(note);
    m_store->loadDetail(note.id);
}

int MeetingListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant MeetingListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row& row = m_rows[index.row()];
    const MeetingNote& note = row.note;
    switch (role) {
    case ListKeyRole:
        return note.listKey();
    case NoteIdRole:
        return note.id;
    case SectionRole:
        return row.section;
    case TitleRole:
        return note.title;
    case ParticipantsRole:
        return QStringList(note.participants.mid(0, 3));
    case SourceLineRole:
        return ScreenText::noteSourceLine(note);
    case DurationRole:
        return ScreenText::noteDuration(note);
    case RelativeTimeRole:
        return ScreenText::relativeTime(note.createdDateTime, QDateTime::currentDateTimeUtc());
    }
    return {};
}

QHash<int, QByteArray> MeetingListModel::roleNames() const
{
    return {
        { ListKeyRole, "listKey" },
        { NoteIdRole, "noteId" },
        { SectionRole, "section" },
        { TitleRole, "title" },
        { ParticipantsRole, "participants" },
        { SourceLineRole, "sourceLine" },
        { DurationRole, "duration" },
        { RelativeTimeRole, "relativeTime" },
    };
}
