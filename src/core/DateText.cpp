#include "DateText.h"

#include <QLocale>
#include <QTimeZone>

#include <unicode/ucal.h>
#include <unicode/udat.h>

#include <map>
#include <memory>

namespace {

struct Settings {
    QByteArray locale;
    QByteArray zone;
    std::function<QDateTime()> clock;
};

Settings& settings()
{
    static Settings s { QLocale::system().name().toUtf8(), QTimeZone::systemTimeZoneId(), {} };
    return s;
}

struct FormatterDeleter {
    void operator()(UDateFormat* f) const { udat_close(f); }
};
using Formatter = std::unique_ptr<UDateFormat, FormatterDeleter>;

// Formatters keyed by pattern (or by style for the two locale styles).
std::map<QString, Formatter>& cache()
{
    static std::map<QString, Formatter> c;
    return c;
}

UDateFormat* formatter(const QString& key, UDateFormatStyle timeStyle, UDateFormatStyle dateStyle)
{
    auto it = cache().find(key);
    if (it != cache().end())
        return it->second.get();
    const QString zone = QString::fromUtf8(settings().zone);
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* f = nullptr;
    if (timeStyle == UDAT_PATTERN)
        f = udat_open(UDAT_PATTERN, UDAT_PATTERN, settings().locale.constData(),
            reinterpret_cast<const UChar*>(zone.utf16()), int32_t(zone.size()),
            reinterpret_cast<const UChar*>(key.utf16()), int32_t(key.size()), &status);
    else
        f = udat_open(timeStyle, dateStyle, settings().locale.constData(), reinterpret_cast<const UChar*>(zone.utf16()),
            int32_t(zone.size()), nullptr, 0, &status);
    if (U_FAILURE(status) || !f)
        return nullptr;
    return cache().emplace(key, Formatter(f)).first->second.get();
}

QString run(UDateFormat* f, const QDateTime& when)
{
    if (!f || !when.isValid())
        return {};
    UChar buffer[256];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = udat_format(f, UDate(when.toMSecsSinceEpoch()), buffer, 256, nullptr, &status);
    if (U_FAILURE(status))
        return {};
    return QString(reinterpret_cast<const QChar*>(buffer), qMin(n, 256));
}

}

namespace DateText {

void setLocale(const QByteArray& icuLocale)
{
    settings().locale = icuLocale;
    cache().clear();
}

void setTimeZone(const QByteArray& ianaId)
{
    settings().zone = ianaId;
    cache().clear();
}

QByteArray timeZoneId()
{
    return settings().zone;
}

QString format(const QDateTime& when, const QString& pattern)
{
    return run(formatter(pattern, UDAT_PATTERN, UDAT_PATTERN), when);
}

QString mediumDate(const QDateTime& when)
{
    return run(formatter(QStringLiteral("\x01medium-date"), UDAT_NONE, UDAT_MEDIUM), when);
}

QString shortTime(const QDateTime& when)
{
    return run(formatter(QStringLiteral("\x01short-time"), UDAT_SHORT, UDAT_NONE), when);
}

QDate localDate(const QDateTime& when)
{
    return when.toTimeZone(QTimeZone(settings().zone)).date();
}

void setClock(std::function<QDateTime()> clock)
{
    settings().clock = std::move(clock);
}

QDateTime now()
{
    return settings().clock ? settings().clock() : QDateTime::currentDateTimeUtc();
}

QDate today()
{
    return localDate(now());
}

QString dayLabel(const QDateTime& when)
{
    const QDate day = localDate(when);
    const QDate t = today();
    if (day == t)
        return QStringLiteral("Today");
    if (day == t.addDays(-1))
        return QStringLiteral("Yesterday");
    return mediumDate(when);
}

}
