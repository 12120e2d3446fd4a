#pragma once

#include "EQTheme.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

#include <optional>

class QQuickItem;

// The theme as an inherited value of the item tree: an item that sets
// `EQThemeKey.theme: "golden"` gives that theme to everything inside it; an
// item that sets nothing reads its nearest ancestor's, and "night" at the top.
class EQThemeKey : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("EQThemeKey is read and set as an attached property")
    QML_ATTACHED(EQThemeKey)
    // The theme's text value, "night" or "golden".
    Q_PROPERTY(QString theme READ themeText WRITE setThemeText RESET resetTheme NOTIFY themeChanged)

public:
    explicit EQThemeKey(QObject* attachee);
    static EQThemeKey* qmlAttachedProperties(QObject* object);

    [[nodiscard]] EQTheme theme() const;
    [[nodiscard]] QString themeText() const { return EQThemes::text(theme()); }
    void setThemeText(const QString& text);
    void resetTheme();

signals:
    void themeChanged();

private:
    void followParent();
    void update();

    QQuickItem* m_item = nullptr;
    std::optional<EQTheme> m_own;
    QPointer<EQThemeKey> m_inherited;
    QMetaObject::Connection m_inheritedConnection;
    EQTheme m_effective = EQThemes::defaultTheme;
};
