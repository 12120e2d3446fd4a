#pragma once

#include <QString>
#include <QUrl>

// The service's origin and the addresses built from it.
namespace Endpoints {

// The origin from the build settings, parsed once; an origin that is not an
// absolute address stops the process with a clear message at first use.
QUrl serviceOrigin();
// Tests that run their own service point the client at it before first use.
void setServiceOrigin(const QUrl& origin);
// Pure check used by serviceOrigin(); empty text when the origin is usable.
QString originProblem(const QString& text);

// The origin with `path` (beginning with "/") appended.
QUrl url(const QString& path);
QUrl meetingNoteDetailURL(const QString& id, const QString& source);
QUrl upcomingMeetingsURL(const QString& userId, int limit);
// One action item of a note; the item id is one path segment whatever characters it holds.
QUrl actionItemURL(const QString& noteId, const QString& itemId, const QString& source);

}
