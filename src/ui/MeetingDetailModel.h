#pragma once

#include "MeetingNoteDetail.h"
#include "MeetingStore.h"
#include "NoteActionItemsModel.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <optional>

// What the note's detail screen shows of the meeting store's detail. The
// detail of another note than the selected one (still there while the new one
// loads) is not shown. Ticking an action item changes only its row.
class MeetingDetailModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(MeetingStore* store READ store WRITE setStore NOTIFY storeChanged)
    Q_PROPERTY(bool isShown READ isShown NOTIFY stateChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY stateChanged)
    // The failed load's description while nothing can be shown.
    Q_PROPERTY(QString errorText READ errorText NOTIFY stateChanged)
    Q_PROPERTY(QString title READ title NOTIFY contentChanged)
    Q_PROPERTY(QString peopleLine READ peopleLine NOTIFY contentChanged)
    Q_PROPERTY(QStringList participants READ participants NOTIFY contentChanged)
    Q_PROPERTY(QString summaryText READ summaryText NOTIFY contentChanged)
    Q_PROPERTY(QStringList decisions READ decisions NOTIFY contentChanged)
    // [{title, bullets}]
    Q_PROPERTY(QVariantList topics READ topics NOTIFY contentChanged)
    // [{label, value}]: Source, Recorded, Speakers, Duration.
    Q_PROPERTY(QVariantList properties READ properties NOTIFY contentChanged)
    Q_PROPERTY(NoteActionItemsModel* actionItems READ actionItems CONSTANT)

public:
    explicit MeetingDetailModel(QObject* parent = nullptr);

    [[nodiscard]] MeetingStore* store() const { return m_store; }
    void setStore(MeetingStore* store);

    [[nodiscard]] bool isShown() const { return m_shown.has_value(); }
    [[nodiscard]] bool isLoading() const;
    [[nodiscard]] QString errorText() const;
    [[nodiscard]] QString title() const;
    [[nodiscard]] QString peopleLine() const;
    [[nodiscard]] QStringList participants() const;
    [[nodiscard]] QString summaryText() const;
    [[nodiscard]] QStringList decisions() const;
    [[nodiscard]] QVariantList topics() const;
    [[nodiscard]] QVariantList properties() const;
    [[nodiscard]] NoteActionItemsModel* actionItems() { return &m_actionItems; }

    // The check box of an action item: asks the store for the opposite value.
    Q_INVOKABLE void toggle(int row);

signals:
    void storeChanged();
    void stateChanged();
    void contentChanged();

private:
    void refresh();

    QPointer<MeetingStore> m_store;
    QList<QMetaObject::Connection> m_connections;
    std::optional<MeetingNoteDetail> m_shown;
    NoteActionItemsModel m_actionItems;
};
