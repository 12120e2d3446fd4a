#pragma once

#include "ActionStore.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

// What the actions screen needs beyond the store's sections: the header's
// count of open items and a tick by the item's identity.
class ActionsViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(ActionStore* store READ store WRITE setStore NOTIFY storeChanged)
    Q_PROPERTY(bool hasItems READ hasItems NOTIFY countsChanged)
    // "3 open" or "All done".
    Q_PROPERTY(QString openLine READ openLine NOTIFY countsChanged)

public:
    explicit ActionsViewModel(QObject* parent = nullptr);

    [[nodiscard]] ActionStore* store() const { return m_store; }
    void setStore(ActionStore* store);
    [[nodiscard]] bool hasItems() const { return m_store && !m_store->items().isEmpty(); }
    [[nodiscard]] QString openLine() const;

    // The screen appeared, or the refresh button was pressed.
    Q_INVOKABLE void load();
    // An item's check box: the store flips it at once and asks the service.
    Q_INVOKABLE void toggle(const QString& identity);

signals:
    void storeChanged();
    void countsChanged();

private:
    QPointer<ActionStore> m_store;
    QList<QMetaObject::Connection> m_connections;
};
