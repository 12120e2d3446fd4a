#pragma once

#include <QDateTime>
#include <QLatin1StringView>
#include <QStringView>

#include <optional>

// Strict ISO-8601 internet date-times, as the service sends them.
namespace IsoDate {

// "2024-05-01T09:30:00.123Z" or "2024-05-01T11:30:00.5+02:00": fractional seconds required.
std::optional<QDateTime> parseFractional(QStringView text);
// "2024-05-01T09:30:00Z" or "2024-05-01T11:30:00+02:00": no fractional seconds.
std::optional<QDateTime> parsePlain(QStringView text);
// The fractional form first, then the plain form; a bare date or anything else is nothing.
std::optional<QDateTime> parse(QStringView text);
// The same, for text read in place from the reply's bytes.
std::optional<QDateTime> parse(QLatin1StringView text);

// The service's form for outgoing dates: UTC with milliseconds.
QString format(const QDateTime& date);

}
