#pragma once

#include "MeetingNote.h"

#include <QList>
#include <QString>

// What the sidebar's search field finds: notes whose title or one of whose
// participants contains the text, ignoring case. Blank text finds everything.
class MeetingSearch {
public:
    [[nodiscard]] static bool isActive(const QString& text);
    [[nodiscard]] static bool matches(const MeetingNote& note, const QString& text);
    [[nodiscard]] static QList<MeetingNote> filtered(const QList<MeetingNote>& notes, const QString& text);
};
