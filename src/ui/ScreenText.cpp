#include "ScreenText.h"

#include "DateText.h"
#include "DayClock.h"

using namespace Qt::StringLiterals;

ScreenText::ScreenText(QObject* parent)
    : QObject(parent)
{
    connect(&DayClock::shared(), &DayClock::dayChanged, this, &ScreenText::dateLineChanged);
}

QString ScreenText::dateLine() const
{
    return dateLineAt(DateText::now());
}

QString ScreenText::dateLineAt(const QDateTime& now)
{
    return DateText::format(now, u"EEEE · MMMM d"_s).toUpper();
}

QString ScreenText::relativeTime(const QDateTime& created, const QDateTime& now)
{
    // Whole seconds, rounded down; a note from the future counts as just made.
    const qint64 ms = created.msecsTo(now);
    const qint64 s = ms >= 0 ? ms / 1000 : -1;
    if (s < 120)
        return u"Just now"_s;
    if (s < 3600)
        return u"%1m ago"_s.arg(s / 60);
    if (s < 86400)
        return u"%1h ago"_s.arg(s / 3600);
    if (s < 172800)
        return u"Yesterday"_s;
    return DateText::format(created, u"MMM d"_s);
}

QString ScreenText::recordingLength(double seconds)
{
    const qint64 s = seconds > 0 ? qint64(seconds) : 0;
    if (s < 60)
        return u"%1s"_s.arg(s);
    return u"%1m %2s"_s.arg(s / 60).arg(s % 60);
}

QString ScreenText::homeSummary(int live, int today)
{
    if (live == 0 && today == 0)
        return u"No meetings today"_s;
    if (live == 0)
        return u"%1 meetings today"_s.arg(today);
    return u"%1 meetings today · Echoquill is listening"_s.arg(live + today);
}

QString ScreenText::recordingsLine(int notes)
{
    if (notes == 0)
        return u"No recordings yet"_s;
    return u"%1 recordings · Echoquill is listening"_s.arg(notes);
}

QString ScreenText::openItemsLine(int open)
{
    return open == 0 ? u"All done"_s : u"%1 open"_s.arg(open);
}

QString ScreenText::capitalized(const QString& text)
{
    QString out = text.toLower();
    bool wordStart = true;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QChar c = out[i];
        if (c.isSpace()) {
            wordStart = true;
        } else if (wordStart) {
            out[i] = c.toUpper();
            wordStart = false;
        }
    }
    return out;
}

QString ScreenText::noteSourceLine(const MeetingNote& note)
{
    return capitalized(note.source.value_or(u"recording"_s)) + u" · "_s + DateText::shortTime(note.createdDateTime);
}

QString ScreenText::noteDuration(const MeetingNote& note)
{
    return note.duration ? note.duration->toUpper() : missing;
}

QString ScreenText::processingSourceLine(const QDateTime& startedAt)
{
    return u"Desktop · "_s + DateText::shortTime(startedAt);
}

QString ScreenText::detailSourceLabel(const MeetingNoteDetail& detail)
{
    if (detail.properties && detail.properties->source)
        return *detail.properties->source;
    if (detail.source)
        return capitalized(*detail.source);
    return u"Recording"_s;
}

QString ScreenText::detailPeopleLine(const MeetingNoteDetail& detail)
{
    const QString label = detailSourceLabel(detail);
    if (detail.participants.isEmpty())
        return label;
    return u"%1 people · "_s.arg(detail.participants.size()) + label;
}

QList<ScreenText::PropertyRow> ScreenText::detailProperties(const MeetingNoteDetail& detail)
{
    const std::optional<V2Properties>& p = detail.properties;
    QString source = missing;
    if (p && p->source)
        source = *p->source;
    else if (detail.source)
        source = capitalized(*detail.source);
    QString speakers = missing;
    if (p && p->speakers)
        speakers = QString::number(*p->speakers);
    else if (!detail.participants.isEmpty())
        speakers = QString::number(detail.participants.size());
    return {
        { u"Source"_s, source },
        { u"Recorded"_s, p && p->recorded ? *p->recorded : missing },
        { u"Speakers"_s, speakers },
        { u"Duration"_s, detail.duration.value_or(missing) },
    };
}

QStringList ScreenText::timeParts(const QString& time)
{
    const QStringList parts = time.split(u" · "_s);
    if (parts.size() == 2)
        return parts;
    return { QString(), time };
}
