#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

// The profile's first and last name, taken from the one display name: the
// name is split at single blanks; the first piece is the first name and the
// other pieces, joined by single blanks, are the last name.
class AccountName : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    [[nodiscard]] static QString firstNameOf(const QString& name);
    [[nodiscard]] static QString lastNameOf(const QString& name);

    static AccountName* create(QQmlEngine*, QJSEngine*) { return new AccountName; }

    Q_INVOKABLE QString firstName(const QString& name) const { return firstNameOf(name); }
    Q_INVOKABLE QString lastName(const QString& name) const { return lastNameOf(name); }
};
