#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

// What an avatar without a picture shows for a name: its initials on one of
// nine colour pairs, picked by a hash of the name so a name always looks the same.
class EQAvatarStyle : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    struct ColorPair {
        QColor background;
        QColor foreground;
    };

    // First characters of the first two blank-separated words, upper-cased.
    [[nodiscard]] static QString initialsOf(const QString& name);
    // hash = hash × 31 + scalar over the Unicode scalars, modulo 2^32; index = hash mod 9.
    [[nodiscard]] static quint32 nameHash(const QString& name);
    [[nodiscard]] static int colorPairIndex(const QString& name);
    [[nodiscard]] static ColorPair colorPair(const QString& name);

    static EQAvatarStyle* create(QQmlEngine*, QJSEngine*) { return new EQAvatarStyle; }

    Q_INVOKABLE QString initials(const QString& name) const { return initialsOf(name); }
    Q_INVOKABLE QColor background(const QString& name) const { return colorPair(name).background; }
    Q_INVOKABLE QColor foreground(const QString& name) const { return colorPair(name).foreground; }
};
