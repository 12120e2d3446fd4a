#pragma once

#include "MeetingNote.h"
#include "MeetingStore.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

// The rows of the meetings list: the meeting store's notes in its day
// sections, narrowed by the sidebar's search text, each with the texts its row
// shows. A reload with the same notes refreshes the rows in place; relative
// times are refreshed every `refreshInterval` milliseconds.
class MeetingListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(MeetingStore* store READ store WRITE setStore NOTIFY storeChanged)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(int refreshInterval READ refreshInterval WRITE setRefreshInterval NOTIFY refreshIntervalChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        ListKeyRole = Qt::UserRole + 1,
        NoteIdRole,
        SectionRole,
        TitleRole,
        ParticipantsRole,
        SourceLineRole,
        DurationRole,
        RelativeTimeRole,
    };

    explicit MeetingListModel(QObject* parent = nullptr);

    [[nodiscard]] MeetingStore* store() const { return m_store; }
    void setStore(MeetingStore* store);
    [[nodiscard]] QString searchText() const { return m_searchText; }
    void setSearchText(const QString& text);
    [[nodiscard]] int refreshInterval() const { return m_refresh.interval(); }
    void setRefreshInterval(int ms);
    [[nodiscard]] int count() const { return int(m_rows.size()); }

    // The user clicked a row: select its note and load its detail.
    Q_INVOKABLE void open(int row);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

signals:
    void storeChanged();
    void searchTextChanged();
    void refreshIntervalChanged();
    void countChanged();

private:
    struct Row {
        QString section;
        MeetingNote note;
    };
    void rebuild();

    QPointer<MeetingStore> m_store;
    QMetaObject::Connection m_storeConnection;
    QString m_searchText;
    QList<Row> m_rows;
    QTimer m_refresh;
};
