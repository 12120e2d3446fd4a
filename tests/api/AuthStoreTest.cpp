#include "AuthStore.h"
#include "Await.h"
#include "Endpoints.h"
#include "KeychainService.h"
#include "KeyringTest.h"
#include "Log.h"
#include "QtPrinters.h"
#include "SessionServer.h"

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

TEST_F(AuthStoreTest, RestoreWithARejectedTokenSignsOutSilentlyAndForgetsTheToken)
{
    SessionServer server;
    KeychainService::saveToken(u"revoked"_s);

    AuthStore store;
    QSignalSpy userChanged(&store, &AuthStore::currentUserChanged);
    QSignalSpy errorChanged(&store, &AuthStore::errorChanged);
    ASSERT_TRUE(waitUntil([&] { return userChanged.count() == 1; }));
    EXPECT_FALSE(store.currentUser());
    EXPECT_EQ(store.error(), std::nullopt);
    EXPECT_EQ(errorChanged.count(), 0);
    EXPECT_EQ(KeychainService::loadToken(), std::nullopt);
    EXPECT_EQ(server.userRequestTokens(), std::vector<std::string> { "revoked" });
}

TEST_F(AuthStoreTest, RestoreWhileTheServiceIsDownShowsTheNetworkErrorAndKeepsTheToken)
{
    Endpoints::setServiceOrigin(QUrl(u"http://127.0.0.1:%1"_s.arg(closedPort())));
    KeychainService::saveToken(u"still-good"_s);

    AuthStore store;
    ASSERT_TRUE(waitUntil([&] { return store.error().has_value(); }));
    EXPECT_EQ(store.error(), u"Network error: Connection refused"_s);
    EXPECT_FALSE(store.currentUser());
    EXPECT_EQ(KeychainService::loadToken(), u"still-good"_s) << "kept for the next start";
}

TEST_F(AuthStoreTest, AFailedUserLoadRightAfterAVerifiedCodeLeavesSignedOut)
{
    // A server error keeps the new token for the next start; a rejection deletes it silently.
    struct Case {
        int status;
        std::optional<QString> error, token;
    };
    for (const Case& c :
        { Case { 500, u"Server error (500)"_s, u"fresh"_s }, Case { 401, std::nullopt, std::nullopt } }) {
        SCOPED_TRACE(c.status);
        KeychainService::deleteToken();
        SessionServer server;
        server.setVerifyReply("482913", { 200, R"({"token":"fresh"})" });
        server.setUserReply("fresh", { c.status, "oops" });
        AuthStore store;
        QList<bool> loading;
        QObject::connect(&store, &AuthStore::isLoadingChanged, [&] { loading.append(store.isLoading()); });

        store.verifyOTP(u"ann@example.com"_s, u"482913"_s);
        EXPECT_TRUE(store.isLoading());
        ASSERT_TRUE(waitUntil([&] { return !store.isLoading(); }));
        EXPECT_EQ(loading, (QList<bool> { true, false })) << "busy across the whole sign-in, user request included";
        EXPECT_FALSE(store.currentUser());
        EXPECT_EQ(store.error(), c.error);
        EXPECT_EQ(KeychainService::loadToken(), c.token);
        EXPECT_EQ(server.userRequestTokens(), std::vector<std::string> { "fresh" });
    }
}

TEST_F(AuthStoreTest, ARestoreStillWaitingWhenTheUserSignsOutOrInAnewIsDropped)
{
    // Its late reply neither brings the old session back nor, as a 401, deletes the new sign-in's token.
    for (const bool signInAnew : { false, true }) {
        SCOPED_TRACE(signInAnew ? "signed in anew" : "signed out");
        KeychainService::saveToken(u"old"_s);
        SessionServer server;
        server.setUserReply("old", { signInAnew ? 401 : 200, SessionServer::userJson() });
        server.holdUserReply("old");
        server.setVerifyReply("482913", { 200, R"({"token":"new"})" });
        server.setUserReply("new", { 200, SessionServer::userJson() });
        AuthStore store;
        ASSERT_TRUE(waitUntil([&] { return server.userRequestTokens().size() == 1; }));
        if (signInAnew) {
            store.verifyOTP(u"ann@example.com"_s, u"482913"_s);
            ASSERT_TRUE(waitUntil([&] { return !store.isLoading(); }));
            ASSERT_TRUE(store.currentUser());
        } else {
            store.signOut();
        }
        const qsizetype before = completedReplies.count();
        server.release();
        ASSERT_TRUE(waitUntil([&] { return completedReplies.count() == before + 1; }));
        EXPECT_EQ(store.currentUser().has_value(), signInAnew);
        EXPECT_EQ(KeychainService::loadToken(), signInAnew ? std::optional(u"new"_s) : std::nullopt);
    }
}
