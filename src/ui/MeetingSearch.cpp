#include "MeetingSearch.h"

#include <algorithm>

bool MeetingSearch::isActive(const QString& text)
{
    return !text.trimmed().isEmpty();
}

bool MeetingSearch::matches(const MeetingNote& note, const QString& text)
{
    const QString needle = text.trimmed();
    if (needle.isEmpty())
        return true;
    if (note.title.contains(needle, Qt::CaseInsensitive))
        return true;
    return std::any_of(note.participants.begin(), note.participants.end(),
        [&](const QString& name) { return name.contains(needle, Qt::CaseInsensitive); });
}

QList<MeetingNote> MeetingSearch::filtered(const QList<MeetingNote>& notes, const QString& text)
{
    if (!isActive(text))
        return notes;
    QList<MeetingNote> found;
    std::copy_if(notes.begin(), notes.end(), std::back_inserter(found),
        [&](const MeetingNote& note) { return matches(note, text); });
    return found;
}
