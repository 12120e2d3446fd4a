#include "AppDelegate.h"
#include "AuthStore.h"
#include "Await.h"
#include "KeychainService.h"
#include "KeyringTest.h"
#include "QtPrinters.h"
#include "SessionServer.h"

#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Echoquill_AppPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)

using namespace Qt::StringLiterals;

namespace {

// Whether an item of the QML type `type` is in the window's item tree.
bool shows(QQuickItem* root, const char* type)
{
    if (QByteArray(root->metaObject()->className()).startsWith(type))
        return true;
    const auto children = root->childItems();
    return std::any_of(children.begin(), children.end(), [type](QQuickItem* child) { return shows(child, type); });
}

// The real client's window: the delegate with its stores, and Main.qml.
class Client {
public:
    Client()
    {
        delegate.exposeTo(engine);
        engine.load(QUrl(u"qrc:/Echoquill/App/Main.qml"_s));
        window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
    }

    [[nodiscard]] QString screen() const
    {
        const bool auth = shows(window->contentItem(), "AuthView");
        const bool main = shows(window->contentItem(), "MainAppView");
        return auth == main ? u"both or neither"_s : auth ? u"AuthView"_s : u"MainAppView"_s;
    }

    // A QML object created in the window's engine, to see the store as screens do.
    std::unique_ptr<QObject> qml(const QByteArray& body)
    {
        QQmlComponent component(&engine);
        component.setData(
            "import QtQml\nimport Echoquill.Shared\nQtObject {\n" + body + "\n}", QUrl(u"qrc:/probe.qml"_s));
        std::unique_ptr<QObject> object(component.create());
        EXPECT_TRUE(object) << component.errorString().toStdString();
        return object;
    }

    AppDelegate delegate;
    QQmlApplicationEngine engine;
    QQuickWindow* window = nullptr;
};

using SessionGateTest = KeyringTest;

}

TEST_F(SessionGateTest, TheWindowOpensOnTheGateAndSwitchesOnceTheStoredSessionsUserHasLoaded)
{
    SessionServer server;
    server.setUserReply("stored", { 200, SessionServer::userJson() });
    server.holdUserReply("stored");
    KeychainService::saveToken(u"stored"_s);

    Client client;
    ASSERT_TRUE(client.window);
    ASSERT_TRUE(waitUntil([&] { return client.window->isExposed(); }));
    EXPECT_EQ(client.screen(), u"AuthView"_s) << "the first frame waits for the user";
    EXPECT_EQ(client.window->size(), QSize(1200, 800));
    ASSERT_TRUE(waitUntil([&] { return server.userRequestTokens().size() == 1; }));
    EXPECT_EQ(client.screen(), u"AuthView"_s);
    EXPECT_FALSE(client.delegate.authStore()->isLoading()) << "a restore is not a sign-in";

    int userChanges = 0;
    QObject::connect(client.delegate.authStore(), &AuthStore::currentUserChanged, [&] { ++userChanges; });
    server.release();
    ASSERT_TRUE(waitUntil([&] { return client.screen() == u"MainAppView"_s; }));
    EXPECT_EQ(userChanges, 1);
    EXPECT_EQ(server.requests("/api/desktop/me").at(0).header("Authorization"), "Bearer stored");

    auto user = client.qml(R"(
        property bool present: AuthStore.currentUser !== null
        property string name: AuthStore.currentUser ? AuthStore.currentUser.name : ""
        property string email: AuthStore.currentUser ? AuthStore.currentUser.email : ""
        property var picture: AuthStore.currentUser ? AuthStore.currentUser.googlePicture : undefined
        property var credits: AuthStore.currentUser ? AuthStore.currentUser.paidCredits : undefined
        property var error: AuthStore.error)");
    ASSERT_TRUE(user);
    EXPECT_TRUE(user->property("present").toBool());
    EXPECT_EQ(user->property("name").toString(), u"Ann Lee"_s);
    EXPECT_EQ(user->property("email").toString(), u"ann@example.com"_s);
    EXPECT_EQ(user->property("picture").toString(), u"https://images.example.com/ann.png"_s);
    EXPECT_EQ(user->property("credits").toInt(), 120);
    EXPECT_TRUE(user->property("error").isNull());

    // Signing out from QML: back to the sign-in screen, the bindings follow.
    QMetaObject::invokeMethod(client.delegate.authStore(), "signOut");
    ASSERT_TRUE(waitUntil([&] { return client.screen() == u"AuthView"_s; }));
    EXPECT_FALSE(user->property("present").toBool());
    EXPECT_EQ(KeychainService::loadToken(), std::nullopt);
}
