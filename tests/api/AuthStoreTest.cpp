#include "AuthStore.h"
#include "AuthService.h"
#include "Await.h"
#include "Endpoints.h"
#include "KeychainService.h"
#include "KeyringTest.h"
#include "Log.h"
#include "QtPrinters.h"
#include "Raised.h"
#include "SessionServer.h"

#include <QJsonObject>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class AuthStoreTest : public KeyringTest {
protected:
    // Every reply of the shared client that has completed, handled by its caller or not.
    QSignalSpy completedReplies { &APIClient::shared().network(), &QNetworkAccessManager::finished };
};

}

TEST_F(AuthStoreTest, AFailedUserLoadOnRestoreOrRightAfterAVerifiedCodeLeavesSignedOut)
{
    // A rejection deletes the token silently; a server error, or no service to ask, keeps it for the next start.
    const std::tuple<bool, int, std::optional<QString>, std::optional<QString>> cases[] = {
        { false, 401, std::nullopt, std::nullopt },
        { false, 0, u"Network error: Connection refused"_s, u"fresh"_s },
        { true, 500, u"Server error (500)"_s, u"fresh"_s },
        { true, 401, std::nullopt, std::nullopt },
    };
    for (const auto& [afterCode, status, error, token] : cases) {
        SCOPED_TRACE(testing::Message() << (afterCode ? "sign-in, " : "restore, ") << status);
        KeychainService::deleteToken();
        SessionServer server;
        server.setVerifyReply("482913", { 200, R"({"token":"fresh"})" });
        server.setUserReply("fresh", { status, "oops" });
        if (status == 0)
            Endpoints::setServiceOrigin(QUrl(u"http://127.0.0.1:%1"_s.arg(closedPort())));
        if (!afterCode)
            KeychainService::saveToken(u"fresh"_s);
        AuthStore store;
        QSignalSpy userChanged(&store, &AuthStore::currentUserChanged), errorChanged(&store, &AuthStore::errorChanged);
        QList<bool> loading;
        QObject::connect(&store, &AuthStore::isLoadingChanged, [&] { loading.append(store.isLoading()); });
        if (afterCode) {
            store.verifyOTP(u"ann@example.com"_s, u"482913"_s);
            EXPECT_TRUE(store.isLoading());
        }
        ASSERT_TRUE(waitUntil([&] { return !store.isLoading() && (store.error() || userChanged.count() == 1); }));
        EXPECT_EQ(loading, (afterCode ? QList<bool> { true, false } : QList<bool> {}))
            << "busy across the whole sign-in, user request included";
        EXPECT_FALSE(store.currentUser());
        EXPECT_EQ(store.error(), error);
        EXPECT_EQ(errorChanged.count(), error ? 1 : 0);
        EXPECT_EQ(KeychainService::loadToken(), token);
        EXPECT_EQ(server.userRequestTokens(), std::vector<std::string>(status ? 1 : 0, "fresh"));
    }
}

TEST_F(AuthStoreTest, ARestoreStillWaitingIsDroppedBySignOutAndANewSessionButOutlivesAFailedSignIn)
{
    // Its late reply neither brings the old session back nor, as a 401, deletes the new sign-in's token;
    // a mistyped code leaves the stored session to it.
    enum Then { SignOut, SignIn, WrongCode };
    for (const Then then : { SignOut, SignIn, WrongCode }) {
        SCOPED_TRACE(int(then));
        KeychainService::saveToken(u"old"_s);
        SessionServer server;
        server.setUserReply("old", { then == SignIn ? 401 : 200, SessionServer::userJson() });
        server.holdUserReply("old");
        server.setVerifyReply("482913", { 200, R"({"token":"new"})" });
        server.setUserReply("new", { 200, SessionServer::userJson() });
        AuthStore store;
        ASSERT_TRUE(waitUntil([&] { return server.userRequestTokens().size() == 1; }));
        if (then == SignOut) {
            store.signOut();
        } else {
            store.verifyOTP(u"ann@example.com"_s, then == SignIn ? u"482913"_s : u"482931"_s);
            ASSERT_TRUE(waitUntil([&] { return !store.isLoading(); }));
            ASSERT_EQ(store.currentUser().has_value(), then == SignIn);
        }
        const qsizetype before = completedReplies.count();
        server.release();
        ASSERT_TRUE(waitUntil([&] { return completedReplies.count() == before + 1; }));
        EXPECT_EQ(store.currentUser().has_value(), then != SignOut);
        EXPECT_EQ(KeychainService::loadToken(),
            then == SignOut ? std::nullopt : std::optional(then == SignIn ? u"new"_s : u"old"_s));
    }
}

TEST(AuthService, CodeRequestAndVerifyCarryExactlyTheirFieldsAndNoBearerAndFailAsClientErrors)
{
    SessionServer server;
    server.setVerifyReply("482913", { 200, R"({"token":"tok-fresh","expiresIn":3600})" });
    AuthService auth;

    await(auth.requestOTP(u"  Ann@Example.COM"_s));
    EXPECT_EQ(await(auth.verifyOTP(u"  Ann@Example.COM"_s, u"482913"_s)), u"tok-fresh"_s);

    const auto got = server.requests("/api/desktop/auth/otp");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(
        jsonObject(got[0].body), (QJsonObject { { "email"_L1, u"  Ann@Example.COM"_s }, { "step"_L1, u"request"_s } }))
        << "the address is sent as typed and the request never has otpCode";
    EXPECT_EQ(jsonObject(got[1].body),
        (QJsonObject {
            { "email"_L1, u"  Ann@Example.COM"_s }, { "step"_L1, u"verify"_s }, { "otpCode"_L1, u"482913"_s } }));
    for (const auto& r : got)
        EXPECT_TRUE(r.header("Content-Type") == "application/json" && !r.hasHeader("Authorization")) << r.body;

    // Rejected codes and broken replies surface as the client's errors.
    server.setVerifyReply("500500", { 500, "{}" });
    server.setVerifyReply("000000", { 200, R"({"jwt":"x"})" });
    const auto verifyError = [&](const QString& code) {
        return raised<EQAPIError>([&] { await(auth.verifyOTP(u"a@b.c"_s, code)); }).value();
    };
    EXPECT_TRUE(verifyError(u"111111"_s).is(EQAPIError::Unauthorized));
    EXPECT_EQ(verifyError(u"500500"_s).description(), u"Server error (500)"_s);
    EXPECT_TRUE(verifyError(u"000000"_s).is(EQAPIError::DecodingError)) << "a reply without token is a decoding error";

    for (const auto& [status, text] :
        { std::pair { 429, u"Server error (429)"_s }, std::pair { 401, u"Session expired, please sign in again"_s } }) {
        server.setCodeRequestStatus(status);
        EXPECT_EQ(raised<EQAPIError>([&] { await(auth.requestOTP(u"a@b.c"_s)); }).value().description(), text);
    }

    // Without a service the code request passes the transport failure through; the verification wraps it.
    Endpoints::setServiceOrigin(QUrl(u"http://127.0.0.1:%1"_s.arg(closedPort())));
    EXPECT_THROW(await(auth.requestOTP(u"a@b.c"_s)), TransportError);
    const EQAPIError e = verifyError(u"123456"_s);
    EXPECT_TRUE(e.description().startsWith(u"Network error: "_s)) << e.description().toStdString();
}

TEST(AuthService, CallbackTokenIsTheFirstQueryItemNamedExactlyTokenOfTheAttemptsState)
{
    const std::pair<const char*, std::optional<QString>> cases[] = { { "echoquill://x#token=abc", std::nullopt },
        { "echoquill://auth/done?state=s1&token=secret&x=1", u"secret"_s },
        { "echoquill://any.host/some/path?state=s1&token=", u""_s },
        { "echoquill://auth?token=abc&state=", std::nullopt }, { "echoquill://x?token=first&token=second", u"first"_s },
        { "echoquill:auth?tok%65n=abc", u"abc"_s }, { "https://elsewhere.example/cb?token=t%2Bk%20x", u"t+k x"_s },
        { "echoquill://x?token&token=abc", std::nullopt }, { "echoquill://x?access_token=abc", std::nullopt } };
    Log::Capture log;
    const auto failure = [](const std::optional<QUrl>& url) {
        return raised<EQAPIError>([&] { AuthService::tokenFromCallback(url, u"s1"_s); }).value();
    };
    for (const auto& [text, token] : cases) {
        const QUrl url(QString::fromUtf8(text));
        EXPECT_EQ(token ? AuthService::tokenFromCallback(url, u"s1"_s) : failure(url).description(),
            token.value_or(u"Authentication failed"_s))
            << text;
    }
    EXPECT_TRUE(failure(std::nullopt).is(EQAPIError::InvalidCallback));
    const QString logged = log.lines().join(u'\n'); // the addresses are logged without the token's value
    EXPECT_FALSE(logged.contains(u"abc"_s) || logged.contains(u"first"_s) || logged.contains(u"secret"_s))
        << logged.toStdString();
}
