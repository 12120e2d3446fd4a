#pragma once

#include "EQTextRole.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <optional>

// The one way a screen styles running text: `EQTextStyle.role: "body"` on a
// Text (or any item with a `font`) sets its font, tracking and letter case.
// The text itself stays as written; upper case is a display property.
class EQTextStyle : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("EQTextStyle is applied as an attached property")
    QML_ATTACHED(EQTextStyle)
    // The role's case name: "displayS", "h1", "h2", "h3", "body", "bodySm", "label", "nav", "button", "tiny".
    Q_PROPERTY(QString role READ roleName WRITE setRoleName NOTIFY roleChanged)

public:
    explicit EQTextStyle(QObject* text);
    static EQTextStyle* qmlAttachedProperties(QObject* object) { return new EQTextStyle(object); }

    [[nodiscard]] QString roleName() const;
    void setRoleName(const QString& name);

signals:
    void roleChanged();

private:
    std::optional<EQTextRole> m_role;
};
