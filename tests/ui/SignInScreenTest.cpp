#include "DemoSession.h"
#include "QtPrinters.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace ScreenDriver;

namespace {

const QString ada = u"ada.king.lovelace@example.com"_s;

// The sign-in screen of a client without a stored token, against the local service.
class SignInScreen : public DemoSession {
protected:
    void SetUp() override
    {
        DemoSession::SetUp();
        KeychainService::deleteToken();
    }
    QQuickItem* field(AppWindow& app, const QString& name) { return byObjectName(app.root(), name); }
    // Sends the address with Return in its field and waits for the code field.
    void requestCode(AppWindow& app)
    {
        click(app.window, field(app, u"emailField"_s));
        QTest::keyClick(app.window, Qt::Key_Return);
        ASSERT_TRUE(waitUntil([&] { return field(app, u"codeField"_s) != nullptr; }));
    }
    QString mailedCode()
    {
        return service.control("GET", "/__dev/otp?email=" + ada.toStdString())[u"code"_s].toString();
    }
    qsizetype codeRequests() { return service.requests(u"/api/desktop/auth/otp"_s).size(); }
};

}

TEST_F(SignInScreen, EmailCodeFlowWithItsErrorsEndsInTheMainApplicationAndSignsOutLocally)
{
    AppWindow app;
    ASSERT_TRUE(app.window);
    ASSERT_TRUE(waitUntil([&] { return app.onAuthView(); }));
    EXPECT_GE(app.window->minimumWidth(), 960);
    EXPECT_GE(app.window->minimumHeight(), 640);

    // An empty address is refused on the spot; a refused request keeps the address step with the service's error.
    click(app.window, button(app.root(), u"Send code"_s));
    EXPECT_TRUE(byText(app.root(), u"Please enter your email"_s));
    type(app.window, field(app, u"emailField"_s), ada);
    fault(u"/api/desktop/auth/otp"_s, 500, u"POST"_s);
    click(app.window, button(app.root(), u"Send code"_s));
    ASSERT_TRUE(waitUntil([&] { return byText(app.root(), u"Server error (500)"_s) != nullptr; }));
    EXPECT_FALSE(field(app, u"codeField"_s));

    // The account link changes its wording only.
    QQuickItem* link = byText(app.root(), u"Already have an account? Sign in"_s);
    ASSERT_TRUE(link);
    click(app.window, link);
    EXPECT_EQ(link->property("text").toString(), u"New here? Create account"_s);

    requestCode(app);
    EXPECT_TRUE(byText(app.root(), u"Enter the 6-digit code sent to "_s + ada));
    EXPECT_FALSE(byText(app.root(), u"Server error (500)"_s)) << "a new attempt clears the old error";
    const QJsonObject sent { { u"email"_s, ada }, { u"step"_s, u"request"_s } };
    EXPECT_EQ(bodiesTo(u"/api/desktop/auth/otp"_s), QList<QJsonObject>({ sent, sent }))
        << "nothing sent for the empty address";

    // "Change email" keeps the address and empties the code.
    type(app.window, field(app, u"codeField"_s), u"12"_s);
    click(app.window, byText(app.root(), u"Change email"_s));
    ASSERT_TRUE(field(app, u"emailField"_s));
    EXPECT_EQ(field(app, u"emailField"_s)->property("text").toString(), ada);
    requestCode(app);
    EXPECT_EQ(field(app, u"codeField"_s)->property("text").toString(), QString());

    // Pasted with a blank, the first six characters keep five digits: the form asks for the rest.
    const QString code = mailedCode();
    ASSERT_EQ(code.size(), 6);
    QQuickItem* codeField = field(app, u"codeField"_s);
    paste(app.window, codeField, code.left(3) + u' ' + code.mid(3));
    EXPECT_EQ(codeField->property("text").toString(), code.left(5));
    QTest::keyClick(app.window, Qt::Key_Return);
    EXPECT_TRUE(byText(app.root(), u"Please enter the full 6-digit code"_s));

    // A wrong sixth digit verifies on its own, no button press: the service refuses, and the field keeps the focus.
    type(app.window, codeField, code.endsWith(u'9') ? u"8"_s : u"9"_s);
    ASSERT_TRUE(waitUntil([&] {
        return byText(app.root(), u"That code is wrong or has expired. Check it or send a new one."_s) != nullptr;
    }));
    EXPECT_TRUE(codeField->property("input").value<QQuickItem*>()->hasActiveFocus());
    EXPECT_EQ(codeRequests(), 4) << "three code requests and one verification, none for five digits";

    // Corrected, the code verifies again and signs in.
    QTest::keyClick(app.window, Qt::Key_Backspace);
    EXPECT_EQ(codeField->property("text").toString(), code.left(5));
    type(app.window, codeField, code.right(1));
    ASSERT_TRUE(waitUntil([&] { return app.onMainAppView(); }));
    EXPECT_TRUE(waitUntil([&] { return byText(app.root(), u"Ada King Lovelace"_s) != nullptr; }))
        << "the sidebar's user card shows who signed in";

    // An autostart entry in $XDG_CONFIG_HOME before the profile opens shows as "Open at login" switched on.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const auto restore = qScopeGuard([] { qunsetenv("XDG_CONFIG_HOME"); });
    QFile entry(config.filePath(u"autostart/com.echoquill.Desktop.desktop"_s));
    ASSERT_TRUE(QDir().mkpath(config.filePath(u"autostart"_s)) && QFile(entry.fileName()).open(QIODevice::WriteOnly));

    click(app.window, byObjectName(app.root(), u"gear"_s));
    ASSERT_TRUE(waitUntil([&] { return shows(app.root(), "ProfileView"); }));
    EXPECT_EQ(QStringList({ textOf(app.root(), u"value:First name"_s), textOf(app.root(), u"value:Last name"_s),
                  textOf(app.root(), u"value:Email"_s) }),
        QStringList({ u"Ada"_s, u"King Lovelace"_s, ada }));

    // Scrolled down to the switch, it removes the entry, then writes it with the background start.
    QQuickItem* openAtLogin = byObjectName(app.root(), u"openAtLogin"_s);
    ASSERT_TRUE(openAtLogin && openAtLogin->property("isOn").toBool());
    QWheelEvent wheel({ 600, 400 }, { 600, 400 }, {}, { 0, -2400 }, Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(app.window, &wheel);
    ASSERT_TRUE(waitUntil([&] { return openAtLogin->mapToScene({ 0, 60 }).y() < app.window->height(); }));
    for (const bool on : { false, true }) {
        click(app.window, openAtLogin);
        EXPECT_EQ(std::pair(openAtLogin->property("isOn").toBool(), entry.exists()), std::pair(on, on));
    }
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains("\nExec=echoquill --background\n"));

    // Deleting the account is explained, not attempted; signing out forgets the token and tells nobody.
    service.control("DELETE", "/__dev/requests");
    click(app.window, button(app.root(), u"Delete account"_s));
    EXPECT_TRUE(byText(app.root(), u"Account deletion is handled on the web for now."_s));
    click(app.window, button(app.root(), u"Sign out everywhere"_s));
    ASSERT_TRUE(waitUntil([&] { return app.onAuthView(); }));
    EXPECT_FALSE(KeychainService::loadToken().has_value());
    type(app.window, field(app, u"emailField"_s), ada);
    requestCode(app);
    ASSERT_EQ(service.requests(u"/*"_s).size(), 1) << "the code request is the first since the profile opened";
    EXPECT_EQ(service.requests(u"/*"_s)[0][u"path"_s].toString(), u"/api/desktop/auth/otp"_s);
}
