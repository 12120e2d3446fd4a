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

// Every path of the service the client calls, each spelled here only.
namespace Path {
inline const QString signInCode = QStringLiteral("/api/desktop/auth/otp");
inline const QString browserSignIn = QStringLiteral("/desktop-auth");
inline const QString currentUser = QStringLiteral("/api/desktop/me");
inline const QString meetingNotes = QStringLiteral("/api/v2/meeting-notes");
inline const QString actionItems = QStringLiteral("/api/v2/action-items");
inline const QString uploadToken = QStringLiteral("/api/desktop/meeting-notes/upload-token");
inline const QString recordedNotes = QStringLiteral("/api/desktop/meeting-notes");
inline const QString recallSettings = QStringLiteral("/api/recall/settings");
inline const QString meetingBotPreference = QStringLiteral("/api/recall/meeting-bot-preference");
inline const QString calendarStatus = QStringLiteral("/api/recall/calendar/status");
inline const QString calendarConnect = QStringLiteral("/api/recall/calendar/connect");
inline const QString upcomingMeetings = QStringLiteral("/api/recall/upcoming-meetings");
}

// The origin with `path` (beginning with "/") appended.
QUrl url(const QString& path);
QUrl meetingNoteDetailURL(const QString& id, const QString& source);
QUrl upcomingMeetingsURL(const QString& userId, int limit);
// One action item of a note; the item id is one path segment whatever characters it holds.
QUrl actionItemURL(const QString& noteId, const QString& itemId, const QString& source);

}
