#include "AuthService.h"

#include "AuthCallback.h"
#include "Endpoints.h"
#include "Log.h"
#include "WebAuthenticationSession.h"

#include <QCoroSignal>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QUrlQuery>
#include <QWindow>

#include <array>

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
    static Response fromJson(const Json::ObjectReader& r) { return { r.required<QString>("token"_L1) }; }
};

// 128 random bits that tie a callback to the sign-in that asked for it.
QString newState()
{
    std::array<quint32, 4> words {};
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(words.data()), sizeof(words)).toHex());
}

QUrl otpURL()
{
    return Endpoints::url(Endpoints::Path::signInCode);
}

}

AuthService::AuthService(APIClient& client)
    : m_client(client)
{
}

QCoro::Task<> AuthService::requestOTP(QString email)
{
    // The body is a named local: GCC 12 destroys an aggregate built inside a
    // co_await operand twice when the awaited call throws.
    const QUrl url = otpURL();
    const CodeRequestBody body { email };
    co_await m_client.postWithoutResponse(url, body, std::nullopt);
}

QCoro::Task<QString> AuthService::verifyOTP(QString email, QString code)
{
    const QUrl url = otpURL();
    const CodeVerifyBody body { email, code }; // named, as above
    const Response response = co_await m_client.post<Response>(url, body, std::nullopt);
    co_return response.token;
}

QCoro::Task<QString> AuthService::signInWithGoogle()
{
    const QString state = newState();
    QUrl url = Endpoints::url(Endpoints::Path::browserSignIn);
    url.setQuery(QUrlQuery { { u"state"_s, state } });
    // The state stays out of the log: with it, a forged callback would pass for this sign-in's.
    Log::line("[AuthService] Opening Google OAuth at: "_L1
        + url.adjusted(QUrl::RemoveQuery).toString(QUrl::FullyEncoded) + "?state=<redacted>"_L1);

    WebAuthenticationSession session(url, callbackScheme);
    session.start(presentationAnchor());
    if (!session.isFinished())
        co_await qCoro(&session, &WebAuthenticationSession::finished);

    if (const auto error = session.error()) {
        Log::line("[AuthService] ASWebAuthenticationSession error: "_L1 + error->description());
        throw *error;
    }
    co_return tokenFromCallback(session.callbackUrl(), state);
}

QString AuthService::tokenFromCallback(const std::optional<QUrl>& callbackUrl, const QString& state)
{
    return AuthCallback::token(callbackUrl, state);
}

QWindow* AuthService::presentationAnchor()
{
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && window->type() == Qt::Window)
            return window;
    }
    return nullptr;
}
