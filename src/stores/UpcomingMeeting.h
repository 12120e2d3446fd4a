#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>

// The calendar family a meeting comes from.
enum class CalendarSource { gWork, gPersonal, outlook, icloud };

// "gWork", "gPersonal", "outlook" or "icloud".
[[nodiscard]] QString calendarSourceText(CalendarSource source);

// One calendar meeting as the home screen shows it. Equal when every field is.
struct UpcomingMeeting {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id CONSTANT)
    Q_PROPERTY(QString group MEMBER group CONSTANT)
    Q_PROPERTY(QString time MEMBER time CONSTANT)
    Q_PROPERTY(QString duration MEMBER duration CONSTANT)
    Q_PROPERTY(QString title MEMBER title CONSTANT)
    Q_PROPERTY(QString location MEMBER location CONSTANT)
    Q_PROPERTY(QString meetingUrl READ meetingUrlText CONSTANT)
    Q_PROPERTY(QStringList people MEMBER people CONSTANT)
    Q_PROPERTY(QString source READ sourceText CONSTANT)
    Q_PROPERTY(bool bot MEMBER bot CONSTANT)
    Q_PROPERTY(bool live MEMBER live CONSTANT)
    Q_PROPERTY(QString snippet READ snippetText CONSTANT)
    Q_PROPERTY(bool declined MEMBER declined CONSTANT)
    Q_PROPERTY(QString startTime READ startTimeText CONSTANT)
    Q_PROPERTY(QString endTime READ endTimeText CONSTANT)

public:
    QString id;
    // "Now", "Today", "Tomorrow" or "This week".
    QString group;
    QString time;
    QString duration;
    QString title;
    QString location;
    std::optional<QString> meetingUrl;
    QStringList people;
    CalendarSource source = CalendarSource::gWork;
    bool bot = false;
    bool live = false;
    std::optional<QString> snippet;
    bool declined = false;
    // The service's own texts, sent back unchanged with the meeting-bot switch.
    std::optional<QString> startTime;
    std::optional<QString> endTime;

    // QML reads absent texts as empty ones.
    [[nodiscard]] QString meetingUrlText() const { return meetingUrl.value_or(QString()); }
    [[nodiscard]] QString sourceText() const { return calendarSourceText(source); }
    [[nodiscard]] QString snippetText() const { return snippet.value_or(QString()); }
    [[nodiscard]] QString startTimeText() const { return startTime.value_or(QString()); }
    [[nodiscard]] QString endTimeText() const { return endTime.value_or(QString()); }

    bool operator==(const UpcomingMeeting&) const = default;
};
