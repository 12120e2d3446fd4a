#include "AuthCallback.h"

#include "EQAPIError.h"
#include "Log.h"

#include <QStringList>
#include <QTextBoundaryFinder>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// One query item as written: its name, and its value unless there is no "=".
struct QueryItem {
    QString name;
    std::optional<QString> value;
};

QList<QueryItem> queryItems(const QString& encodedQuery)
{
    QList<QueryItem> items;
    for (const QString& part : encodedQuery.split(u'&')) {
        const qsizetype eq = part.indexOf(u'=');
        const QString name = eq < 0 ? part : part.left(eq);
        QueryItem item { QUrl::fromPercentEncoding(name.toUtf8()), std::nullopt };
        if (eq >= 0)
            item.value = QUrl::fromPercentEncoding(part.mid(eq + 1).toUtf8());
        items.append(item);
    }
    return items;
}

// Log form of a callback address: the value of every item whose name has
// "token" in it, and of the sign-in's "state", in the query or the fragment, is
// left out, since tokens and the state must never reach the log.
QString redacted(const QString& encodedItems)
{
    QStringList parts = encodedItems.split(u'&');
    for (QString& part : parts) {
        const qsizetype eq = part.indexOf(u'=');
        const QString name = QUrl::fromPercentEncoding(part.left(eq).toUtf8());
        const bool secret
            = name.contains("token"_L1, Qt::CaseInsensitive) || name.compare("state"_L1, Qt::CaseInsensitive) == 0;
        if (eq >= 0 && eq + 1 < part.size() && secret)
            part = part.left(eq + 1) + "<redacted>"_L1;
    }
    return parts.join(u'&');
}

QString forLog(const std::optional<QUrl>& url)
{
    if (!url)
        return u"nil"_s;
    QString text = url->adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
    if (url->hasQuery())
        text += u'?' + redacted(url->query(QUrl::FullyEncoded));
    if (url->hasFragment())
        text += u'#' + redacted(url->fragment(QUrl::FullyEncoded));
    return text;
}

// Length in user-perceived characters, so "é" written as e + accent counts once.
qsizetype characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

}

QString AuthCallback::token(const std::optional<QUrl>& callbackUrl, const QString& state)
{
    Log::line("[AuthService] Callback URL received: "_L1 + forLog(callbackUrl));
    if (callbackUrl && callbackUrl->isValid() && callbackUrl->hasQuery()) {
        const QList<QueryItem> items = queryItems(callbackUrl->query(QUrl::FullyEncoded));
        const auto echoed
            = std::find_if(items.begin(), items.end(), [](const QueryItem& i) { return i.name == "state"_L1; });
        if (echoed != items.end() && echoed->value != state) {
            Log::line(u"[AuthService] Callback state does not match this sign-in"_s);
        } else {
            for (const QueryItem& item : items) {
                if (item.name != "token"_L1)
                    continue;
                if (item.value) {
                    Log::line(
                        u"[AuthService] Token extracted successfully (length: %1)"_s.arg(characterCount(*item.value)));
                    return *item.value;
                }
                break;
            }
        }
    }
    Log::line("[AuthService] Failed to extract token from callback URL: "_L1 + forLog(callbackUrl));
    throw EQAPIError::invalidCallback();
}
