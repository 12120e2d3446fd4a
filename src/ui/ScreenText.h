#pragma once

#include "MeetingNote.h"
#include "MeetingNoteDetail.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

// The texts the home, meetings and actions screens compute from their data:
// date and summary lines, relative times, lengths and the source lines of
// notes. QML reads them as ScreenText.dateLine, ScreenText.summary(…), …
class ScreenText : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    // Today's "WEDNESDAY · MARCH 5", changing at midnight.
    Q_PROPERTY(QString dateLine READ dateLine NOTIFY dateLineChanged)

public:
    struct PropertyRow {
        QString label;
        QString value;
    };

    // Stands for a missing value on every screen (U+2014).
    static inline const QString missing = QStringLiteral("\u2014");

    // "WEDNESDAY · MARCH 5" in the user's locale.
    [[nodiscard]] static QString dateLineAt(const QDateTime& now);
    // "Just now", "5m ago", "3h ago", "Yesterday", then "Mar 5".
    [[nodiscard]] static QString relativeTime(const QDateTime& created, const QDateTime& now);
    // A recording's length: "45s", "2m 5s".
    [[nodiscard]] static QString recordingLength(double seconds);
    // The home screen's summary from the live meetings and today's meetings.
    [[nodiscard]] static QString homeSummary(int live, int today);
    // The meetings header from the number of notes.
    [[nodiscard]] static QString recordingsLine(int notes);
    // The actions header from the number of open items.
    [[nodiscard]] static QString openItemsLine(int open);
    // Every word with its first letter in upper case and the rest in lower case.
    [[nodiscard]] static QString capitalized(const QString& text);

    // A list row's "Desktop · 3:30 PM".
    [[nodiscard]] static QString noteSourceLine(const MeetingNote& note);
    // A list row's duration, upper-cased, or the dash.
    [[nodiscard]] static QString noteDuration(const MeetingNote& note);
    // A processing card's "Desktop · 3:30 PM".
    [[nodiscard]] static QString processingSourceLine(const QDateTime& startedAt);

    // Where a note came from, as its detail names it.
    [[nodiscard]] static QString detailSourceLabel(const MeetingNoteDetail& detail);
    // "3 people · Desktop", or only the source when nobody is recorded.
    [[nodiscard]] static QString detailPeopleLine(const MeetingNoteDetail& detail);
    // Source, Recorded, Speakers and Duration, with the dash for what is missing.
    [[nodiscard]] static QList<PropertyRow> detailProperties(const MeetingNoteDetail& detail);

    // A calendar time "Wed · 9:30 AM" as {weekday, clock}; weekday empty when there is none.
    [[nodiscard]] static QStringList timeParts(const QString& time);

    explicit ScreenText(QObject* parent = nullptr);
    static ScreenText* create(QQmlEngine*, QJSEngine*) { return new ScreenText; }

    [[nodiscard]] QString dateLine() const;
    Q_INVOKABLE QString summary(int live, int today) const { return homeSummary(live, today); }
    Q_INVOKABLE QString recordings(int notes) const { return recordingsLine(notes); }
    Q_INVOKABLE QString openItems(int open) const { return openItemsLine(open); }
    Q_INVOKABLE QStringList splitTime(const QString& time) const { return timeParts(time); }
    Q_INVOKABLE QString length(double seconds) const { return recordingLength(seconds).toUpper(); }

signals:
    void dateLineChanged();
};
