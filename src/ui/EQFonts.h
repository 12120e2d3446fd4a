#pragma once

#include "EQTextRole.h"

#include <QFont>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

// Fonts by their installed names ("InterTight-Medium", "Inter-Regular",
// "Inter-Medium", "Inter-Bold"), found among the installed families each time
// a font is built; a name that is not installed gives the system font of the
// same size and weight. Sizes and tracking are in points (logical pixels).
class EQFonts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    static inline const QString displayFontName = QStringLiteral("InterTight-Medium");
    [[nodiscard]] static QString textFontName(QFont::Weight weight);

    [[nodiscard]] static QFont named(const QString& fontName, qreal size, QFont::Weight weight);
    // The whole look of a role: font, tracking and letter case.
    [[nodiscard]] static QFont forRole(EQTextRole role);
    // The installed family a font name resolves to, empty when it falls back.
    [[nodiscard]] static QString installedFamily(const QString& fontName);

    static EQFonts* create(QQmlEngine*, QJSEngine*) { return new EQFonts; }

    // For the few texts whose size the screens state outright; running text uses a role.
    Q_INVOKABLE QFont display(qreal size, qreal tracking = 0) const;
    Q_INVOKABLE QFont text(qreal size, int weight = QFont::Normal, qreal tracking = 0, bool upperCase = false) const;
    Q_INVOKABLE QFont system(qreal size, int weight = QFont::Normal) const;
    // The same font struck through (a finished task), or not.
    Q_INVOKABLE QFont struck(QFont font, bool on) const;
};
