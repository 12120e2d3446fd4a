#include "AppWindow.h"
#include "AuthStore.h"
#include "Await.h"
#include "KeychainService.h"
#include "KeyringTest.h"
#include "QtPrinters.h"
#include "SessionServer.h"

#include <QQmlComponent>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

QString screen(const AppWindow& app)
{
    return app.onAuthView() ? u"AuthView"_s : app.onMainAppView() ? u"MainAppView"_s : u"both or neither"_s;
}

using SessionGateTest = KeyringTest;

}

TEST_F(SessionGateTest, TheWindowOpensOnTheGateAndSwitchesOnceTheStoredSessionsUserHasLoaded)
{
    SessionServer server;
    server.setUserReply("stored", { 200, SessionServer::userJson() });
    server.holdUserReply("stored");
    KeychainService::saveToken(u"stored"_s);

    AppWindow client;
    ASSERT_TRUE(client.window && client.window->isExposed());
    EXPECT_EQ(screen(client), u"AuthView"_s) << "the first frame waits for the user";
    ASSERT_TRUE(waitUntil([&] { return server.userRequestTokens().size() == 1; }));
    EXPECT_EQ(screen(client), u"AuthView"_s);

    int userChanges = 0;
    QObject::connect(client.delegate.authStore(), &AuthStore::currentUserChanged, [&] { ++userChanges; });
    server.release();
    ASSERT_TRUE(waitUntil([&] { return screen(client) == u"MainAppView"_s; }));
    EXPECT_EQ(userChanges, 1);

    // A QML object in the window's engine sees the store as the screens do.
    QQmlComponent component(&client.engine);
    component.setData(
        R"(import QtQml; import Echoquill.Shared; QtObject { readonly property var u: AuthStore.currentUser;
        property string shown: u ? [u.name, u.email, u.googlePicture].join("|") : "nobody" })",
        QUrl(u"qrc:/probe.qml"_s));
    const std::unique_ptr<QObject> user(component.create());
    ASSERT_TRUE(user) << component.errorString().toStdString();
    EXPECT_EQ(user->property("shown").toString(), u"Ann Lee|ann@example.com|https://images.example.com/ann.png"_s);
}
