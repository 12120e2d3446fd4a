#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace Log {

// What a log line may quote of a reply body: the value of every key that holds a
// secret replaced by "<redacted>" (also in cut-off or broken JSON), control characters
// and line breaks written as escapes ("\n", "\u001b") so that a body cannot start a
// log line of its own, then at most `limit` characters; "<binary NB>" for bytes that
// are not UTF-8.
QString excerpt(const QByteArray& body, int limit = 500);

// The last segment of an address's path, nothing else: "https://host/a/b.m4a?sig=x" gives
// "b.m4a". For logging addresses whose whole text grants access (a blob's address).
QString lastSegment(const QString& url);

// Keys whose values are credentials: any key ending in "token", "authorization" and "otpCode", in any case.
bool isSecretKey(QStringView key);

}
