#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace Log {

// What a log line may quote of a reply body: the value of every key that holds a
// secret replaced by "<redacted>" (also in cut-off or broken JSON), then at most
// `limit` characters; "<binary NB>" for bytes that are not UTF-8.
QString excerpt(const QByteArray& body, int limit = 500);

// Keys whose values are credentials: any key ending in "token", "authorization" and "otpCode", in any case.
bool isSecretKey(QStringView key);

}
