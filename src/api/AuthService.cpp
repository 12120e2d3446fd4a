#include "AuthService.h"

#include "Endpoints.h"
#include "Log.h"
#include "WebAuthenticationSession.h"

#include <QCoroSignal>
#include <QGuiApplication>
#include <QTextBoundaryFinder>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace {

constexpr auto callbackScheme = "echoquill";

struct CodeRequestBody {
    QString email;
    QJsonObject toJson() const
    {
        return Json::ObjectWriter().set("email"_L1, email).set("step"_L1, u"request"_s).object();
    }
};

struct CodeVerifyBody {
    QString email;
    QString otpCode;
    QJsonObject toJson() const
    {
        return Json::ObjectWriter()
            .set("email"_L1, email)
            .set("step"_L1, u"verify"_s)
            .set("otpCode"_L1, otpCode)
            .object();
    }
};

struct Response {
    QString token;
    static Response fromJson(const Json::ObjectReader &r) { return {r.required<QString>("token"_L1)}; }
};

QUrl otpURL()
{
    return Endpoints::url(u"/api/desktop/auth/otp"_s);
}

// One query item as written: its name, and its value unless there is no "=".
struct QueryItem {
    QString name;
    std::optional<QString> value;
};

QList<QueryItem> queryItems(const QString &encodedQuery)
{
    QList<QueryItem> items;
    for (const QString &part : encodedQuery.split(u'&')) {
        const qsizetype eq = part.indexOf(u'=');
        const QString name = eq < 0 ? part : part.left(eq);
        QueryItem item {QUrl::fromPercentEncoding(name.toUtf8()), std::nullopt};
        if (eq >= 0)
            item.value = QUrl::fromPercentEncoding(part.mid(eq + 1).toUtf8());
        items.append(item);
    }
    return items;
}

// Log form of a callback address: the value of every item whose name has
// "token" in it, in the query or the fragment, is left out, since tokens must
// never reach the log.
QString redacted(const QString &encodedItems)
{
    QStringList parts = encodedItems.split(u'&');
    for (QString &part : parts) {
        const qsizetype eq = part.indexOf(u'=');
        const QString name = QUrl::fromPercentEncoding(part.left(eq).toUtf8());
        if (eq >= 0 && eq + 1 < part.size() && name.contains("token"_L1, Qt::CaseInsensitive))
            part = part.left(eq + 1) + "<redacted>"_L1;
    }
    return parts.join(u'&');
}

QString forLog(const std::optional<QUrl> &url)
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
qsizetype characterCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

}

AuthService::AuthService(APIClient &client)
    : m_client(client)
{
}

QCoro::Task<> AuthService::requestOTP(QString email)
{
    // The body is a named local: GCC 12 destroys an aggregate built inside a
    // co_await operand twice when the awaited call throws.
    const QUrl url = otpURL();
    const CodeRequestBody body {email};
    co_await m_client.postWithoutResponse(url, body, std::nullopt);
}

QCoro::Task<QString> AuthService::verifyOTP(QString email, QString code)
{
    const QUrl url = otpURL();
    const CodeVerifyBody body {email, code}; // named, as above
    const Response response = co_await m_client.post<Response>(url, body, std::nullopt);
    co_return response.token;
}

QCoro::Task<QString> AuthService::signInWithGoogle()
{
    const QUrl url = Endpoints::url(u"/desktop-auth"_s);
    Log::line("[AuthService] Opening Google OAuth at: "_L1 + url.toString(QUrl::FullyEncoded));

    WebAuthenticationSession session(url, callbackScheme);
    session.start(presentationAnchor());
    if (!session.isFinished())
        co_await qCoro(&session, &WebAuthenticationSession::finished);

    if (const auto error = session.error()) {
        Log::line("[AuthService] ASWebAuthenticationSession error: "_L1 + error->description());
        throw *error;
    }
    co_return tokenFromCallback(session.callbackUrl());
}

void AuthService::registerCallbackScheme()
{
    WebAuthenticationSession::registerCallbackScheme(callbackScheme);
}

QString AuthService::tokenFromCallback(const std::optional<QUrl> &callbackUrl)
{
    Log::line("[AuthService] Callback URL received: "_L1 + forLog(callbackUrl));
    if (callbackUrl && callbackUrl->isValid() && callbackUrl->hasQuery()) {
        for (const QueryItem &item : queryItems(callbackUrl->query(QUrl::FullyEncoded))) {
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
    Log::line("[AuthService] Failed to extract token from callback URL: "_L1 + forLog(callbackUrl));
    throw EQAPIError::invalidCallback();
}

QWindow *AuthService::presentationAnchor()
{
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && window->type() == Qt::Window)
            return window;
    }
    return nullptr;
}
