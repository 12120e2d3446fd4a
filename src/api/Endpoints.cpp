#include "Endpoints.h"

#include "BuildConfig.h"

#include <QUrlQuery>

#include <optional>

namespace {

std::optional<QUrl>& origin()
{
    static std::optional<QUrl> o;
    return o;
}

// Query values are fully percent-encoded: "&", "=", "+" and blanks inside a
// value must not split or change it.
QString encodeQueryItem(const QString& name, const QString& value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(name)) + QLatin1Char('=')
        + QString::fromLatin1(QUrl::toPercentEncoding(value));
}

}

namespace Endpoints {

QString originProblem(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return QStringLiteral("the service origin \"%1\" is not an absolute address").arg(text);
    if (!url.path().isEmpty() && url.path() != QLatin1String("/"))
        return QStringLiteral("the service origin \"%1\" must not have a path").arg(text);
    return {};
}

QUrl serviceOrigin()
{
    if (!origin()) {
        const QString text = QString::fromUtf8(BuildConfig::serviceOrigin);
        const QString problem = originProblem(text);
        if (!problem.isEmpty())
            qFatal("Invalid build setting ECHOQUILL_SERVICE_ORIGIN: %s", qPrintable(problem));
        origin() = QUrl(text, QUrl::StrictMode);
    }
    return *origin();
}

void setServiceOrigin(const QUrl& o)
{
    origin() = o;
}

QUrl url(const QString& path)
{
    QUrl u = serviceOrigin();
    QString base = u.path();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    u.setPath(base + path);
    return u;
}

QUrl meetingNoteDetailURL(const QString& id, const QString& source)
{
    QUrl u = url(Path::meetingNotes + QLatin1Char('/') + id);
    u.setQuery(encodeQueryItem(QStringLiteral("source"), source), QUrl::StrictMode);
    return u;
}

QUrl upcomingMeetingsURL(const QString& userId, int limit)
{
    QUrl u = url(Path::upcomingMeetings);
    u.setQuery(encodeQueryItem(QStringLiteral("tarnwick_user_id"), userId) + QLatin1Char('&')
            + encodeQueryItem(QStringLiteral("limit"), QString::number(limit)),
        QUrl::StrictMode);
    return u;
}

QUrl actionItemURL(const QString& noteId, const QString& itemId, const QString& source)
{
    QUrl u = url(Path::meetingNotes + QStringLiteral("/%1/action-items/").arg(noteId));
    u.setPath(u.path(QUrl::FullyEncoded) + QString::fromLatin1(QUrl::toPercentEncoding(itemId)), QUrl::StrictMode);
    u.setQuery(encodeQueryItem(QStringLiteral("source"), source), QUrl::StrictMode);
    return u;
}

}
