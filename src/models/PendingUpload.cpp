#include "PendingUpload.h"

QString PendingUpload::displayName() const
{
    QString name = fileName;
    for (const char* part : { ".m4a", ".caf", ".wav", "mic_track", "Meeting_", "Session_" })
        name.remove(QLatin1StringView(part), Qt::CaseSensitive);
    qsizetype start = 0, end = name.size();
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (start < end && blank(name[start]))
        ++start;
    while (end > start && blank(name[end - 1]))
        --end;
    return name.mid(start, end - start);
}
