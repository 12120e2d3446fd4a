#include "AuthStore.h"
#include "Await.h"
#include "ChildProcess.h"
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

TEST_F(AuthStoreTest, ARestoreStillWaitingWhenTheUserSignsOutIsDropped)
{
    SessionServer server;
    server.setUserReply("old", { 200, SessionServer::userJson() });
    server.holdUserReply("old");
    KeychainService::saveToken(u"old"_s);

    AuthStore store;
    ASSERT_TRUE(waitUntil([&] { return server.userRequestTokens().size() == 1; }));
    store.signOut();
    server.release();
    ASSERT_TRUE(waitUntil([&] { return completedReplies.count() == 1; }));
    EXPECT_FALSE(store.currentUser()) << "the old session came back after the sign-out";
}

TEST_F(AuthStoreTest, ARestoreStillWaitingWhenTheUserSignsInAnewIsDropped)
{
    // The restore's late 401 must not delete the token of the new sign-in.
    SessionServer server;
    server.holdUserReply("old");
    server.setVerifyReply("482913", { 200, R"({"token":"new"})" });
    server.setUserReply("new", { 200, SessionServer::userJson() });
    KeychainService::saveToken(u"old"_s);

    AuthStore store;
    ASSERT_TRUE(waitUntil([&] { return server.userRequestTokens().size() == 1; }));
    store.verifyOTP(u"ann@example.com"_s, u"482913"_s);
    ASSERT_TRUE(waitUntil([&] { return !store.isLoading(); }));
    ASSERT_TRUE(store.currentUser());

    server.release();
    ASSERT_TRUE(waitUntil([&] { return completedReplies.count() == 3; }));
    EXPECT_TRUE(store.currentUser());
    EXPECT_EQ(KeychainService::loadToken(), u"new"_s);
}

TEST_F(AuthStoreTest, ATokenThatCannotBeStoredIsShownAsTheSignInError)
{
    if (!ChildProcess::isChild()) {
        QProcessEnvironment noBus;
        noBus.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path=/nonexistent/echoquill-test-bus"_s);
        const auto run = ChildProcess::rerunCurrentTest(noBus);
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
        return;
    }
    SessionServer server;
    server.setVerifyReply("482913", { 200, R"({"token":"fresh"})" });
    server.setUserReply("fresh", { 200, SessionServer::userJson() });
    AuthStore store;
    store.verifyOTP(u"ann@example.com"_s, u"482913"_s);
    ASSERT_TRUE(waitUntil([&] { return !store.isLoading(); }));
    EXPECT_EQ(store.error(), u"Keychain save failed (OSStatus 1)"_s);
    EXPECT_FALSE(store.currentUser());
    EXPECT_TRUE(server.userRequestTokens().empty()) << "no user request without a stored token";
}
