#include "AuthService.h"
#include "AuthStore.h"
#include "Await.h"
#include "Browser.h"
#include "KeychainService.h"
#include "KeyringTest.h"
#include "Log.h"
#include "QtPrinters.h"
#include "Raised.h"
#include "SessionServer.h"
#include "TestWindows.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <set>

using namespace Qt::StringLiterals;

namespace {

// The client finds the sign-in window's program on the PATH when it is not beside it.
const bool programFound = qputenv("PATH", ECHOQUILL_SIGNIN_DIR ":" + qgetenv("PATH"));

TestWindows& display()
{
    static TestWindows windows;
    return windows;
}

// The sign-in program's windows on screen, as the window manager lists them.
const auto visibleSignInWindows = [] { return display().windowsTitled("Sign in with Google"); };
const auto closeSignInWindows
    = [] { std::ranges::for_each(visibleSignInWindows(), [](quint32 w) { display().requestClose(w); }); };

const auto html = [](std::string body) -> SessionServer::PageHandler {
    return [body](const httplib::Request&, httplib::Response& res) { res.set_content(body, "text/html"); };
};
const auto script = [](const std::string& statements) {
    return html("<!doctype html><html><body><p>Signing in…</p><script>" + statements + "</script></body></html>");
};

// Sets a cookie, reloads and reports what came back; a cookie already there on the first visit outlived its window.
void cookiePage(const httplib::Request& req, httplib::Response& res)
{
    const std::string cookie = req.get_header_value("Cookie");
    if (req.has_param("again"))
        return res.set_redirect("echoquill://auth?token=" + (cookie.empty() ? std::string("no-cookie") : cookie));
    res.set_header("Set-Cookie", "visited=1; Path=/");
    res.set_redirect(cookie.empty() ? "/desktop-auth?again=1" : "echoquill://auth?token=leaked");
}

// Outcome of one Google sign-in through the service: the token or the service error's text. A sign-in that never
// ends is cut short by closing its window, whose error then fails the test.
QString signIn(AuthService& auth)
{
    QObject scope;
    QTimer::singleShot(15000, &scope, closeSignInWindows);
    QString token;
    const auto error = raised<EQAPIError>([&] { token = await(auth.signInWithGoogle()); });
    return error ? u"error:"_s + error->description() : u"token:"_s + token;
}

using GoogleSignInTest = KeyringTest;

}

TEST_F(GoogleSignInTest, TheServicePagesFirstCallbackNavigationOfThisAttemptEndsTheSignInNothingElseDoes)
{
    SessionServer server;
    AuthService auth;
    Browser browser;
    // A frame of another origin inside the service's page, which tries the callback before the page does.
    TestServer frames;
    frames.server().Get("/frame",
        html("<script>try { window.open('echoquill://auth?token=tok-frame'); "
             "top.location = 'echoquill://auth?token=tok-top'; } "
             "finally { parent.postMessage(1, '*'); }</script>"));
    frames.start();
    const std::tuple<const char*, SessionServer::PageHandler, QString> cases[] = {
        { "a 302 from the service", [](auto&, auto& res) { res.set_redirect("echoquill://auth?token=tok-302"); },
            u"token:tok-302"_s },
        { "a submitted form",
            html(R"(<form id="f" action="echoquill://auth" method="get"><input name="token" value="tok-form">)"
                 R"(</form><script>document.getElementById('f').submit();</script>)"),
            u"token:tok-form"_s },
        { "a second callback right after the first",
            script("location.href = 'echoquill://a?token=one'; setTimeout(() => { location.href = "
                   "'echoquill://b?token=two'; }, 0);"),
            u"token:one"_s },
        { "a cookie, which works within one sign-in", cookiePage, u"token:visited=1"_s },
        { "the next sign-in, which starts without it", cookiePage, u"token:visited=1"_s },
        { "the attempt's state echoed",
            script("location.href = 'echoquill://auth' + location.search + '&token=tok-st';"), u"token:tok-st"_s },
        { "another attempt's state", script("location.href = 'echoquill://auth?state=0f0f&token=tok-old';"),
            u"error:Authentication failed"_s },
        { "a frame, an image and a fetch of callbacks first",
            html(R"(<iframe src="echoquill://auth?token=frame"></iframe><img src="echoquill://auth?token=img"><script>)"
                 R"(onload = () => fetch('echoquill://auth?token=fetch').catch(() => {}).then(() => {)"
                 R"( location.href = 'echoquill://auth?token=tok-main'; });</script>)"),
            u"token:tok-main"_s },
        { "a callback tried by a frame of another origin first",
            html("<script>onmessage = () => { location.href = 'echoquill://auth?token=tok-page'; };</script>"
                 "<iframe src=\""
                + frames.url(u"/frame"_s).toString().toStdString() + "\"></iframe>"),
            u"token:tok-page"_s },
        { "a page elsewhere, which opens in the browser while the window stays",
            script("location.href = 'https://example.com/help'; setTimeout(() => { location.href = "
                   "'echoquill://auth?token=tok-stayed'; }, 500);"),
            u"token:tok-stayed"_s },
    };
    for (const auto& [what, page, outcome] : cases) {
        SCOPED_TRACE(what);
        server.setSignInPage(page);
        Log::Capture log;
        EXPECT_EQ(signIn(auth), outcome);
        EXPECT_EQ(log.count(u"[AuthService] Callback URL received: "_s), 1) << "handled exactly once";
        EXPECT_TRUE(waitUntil([] { return visibleSignInWindows().isEmpty(); })) << "the window closes itself";
    }
    EXPECT_EQ(browser.opened, QList<QUrl>({ QUrl(u"https://example.com/help"_s) }));
    std::set<std::string> states; // a new one for each attempt
    for (const auto& r : server.requests("/desktop-auth"))
        if (r.query != "again=1" && std::regex_match(r.query, std::regex("state=[0-9a-f]{32}")))
            states.insert(r.query);
    EXPECT_EQ(states.size(), std::size(cases));
}

TEST_F(GoogleSignInTest, TheWindowOpensOverTheClientsClosingItIsTheSignInErrorAndACallbackTokenThenSignsIn)
{
    SessionServer server;
    server.setSignInPage(html("<!doctype html><title>Choose an account</title><p>Choose an account</p>"));
    server.setUserReply("g-tok-77", { 200, SessionServer::userJson() });
    QWindow client;
    client.setGeometry(300, 250, 400, 300);
    client.show();
    ASSERT_TRUE(waitUntil([&] { return client.isExposed(); }));
    AuthStore store;
    Log::Capture log;

    store.signInWithGoogle();
    EXPECT_TRUE(store.isLoading());
    ASSERT_TRUE(waitUntil([] { return visibleSignInWindows().size() == 1; }));
    const quint32 window = visibleSignInWindows().first();
    EXPECT_EQ(display().property32(window, "WM_TRANSIENT_FOR"), QList<quint32>({ quint32(client.winId()) }));
    const QPoint offset = display().geometry(window).center() - display().geometry(quint32(client.winId())).center();
    EXPECT_LT(offset.manhattanLength(), 60) << "centred on the client's window";
    ASSERT_TRUE(waitUntil([&] { return !server.requests("/desktop-auth").empty(); }));

    // The program started by hand holds a pipe from its client like the client's own; when the pipe closes, the
    // window goes.
    QProcess program;
    program.start(QStringLiteral(ECHOQUILL_SIGNIN_DIR "/echoquill-signin"),
        { server.http().url(u"/desktop-auth"_s).toString(), u"echoquill"_s });
    ASSERT_TRUE(waitUntil([] { return visibleSignInWindows().size() == 2; }));
    program.closeWriteChannel();
    EXPECT_TRUE(waitUntil([&] { return program.state() == QProcess::NotRunning; }));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    ASSERT_TRUE(waitUntil([] { return visibleSignInWindows().size() == 1; }));

    closeSignInWindows();
    ASSERT_TRUE(waitUntil([&] { return !store.isLoading(); }));
    EXPECT_EQ(store.error(), u"The sign-in window was closed."_s);
    EXPECT_FALSE(store.currentUser());
    EXPECT_EQ(KeychainService::loadToken(), std::nullopt);

    // The window's program dying mid-way is a failed sign-in, not one that never ends. The closed window must be
    // gone first, or its program could be taken for the new one's.
    ASSERT_TRUE(waitUntil([] { return visibleSignInWindows().isEmpty(); }));
    store.signInWithGoogle();
    ASSERT_TRUE(waitUntil([] { return visibleSignInWindows().size() == 1; }));
    const auto pid = pid_t(display().property32(visibleSignInWindows().first(), "_NET_WM_PID").value(0));
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !store.isLoading(); }));
    EXPECT_EQ(store.error(), u"Authentication failed"_s);

    server.setSignInPage(
        script("setTimeout(() => { location.href = 'echoquill://auth/callback?token=g-tok-77'; }, 50);"));
    store.signInWithGoogle();
    ASSERT_TRUE(waitUntil([&] { return !store.isLoading(); }, 20000));
    ASSERT_TRUE(store.currentUser()) << store.error().value_or(QString()).toStdString();
    EXPECT_EQ(store.currentUser()->name, u"Ann Lee"_s);
    EXPECT_EQ(store.error(), std::nullopt) << "a new attempt clears the old error";
    EXPECT_EQ(KeychainService::loadToken(), u"g-tok-77"_s);
    EXPECT_FALSE(log.lines().join(u'\n').contains(u"g-tok-77"_s)) << "the token stays out of the log";
}

TEST_F(GoogleSignInTest, AProgramThatAnswersWronglyOrNotAtAllIsAFailedSignIn)
{
    SessionServer server;
    AuthService auth;
    QTemporaryDir programs;
    const QByteArray path = qgetenv("PATH");
    const std::pair<const char*, QString> cases[] = {
        // A program that goes on after its wrong answer: it lives until the client lets go of its input.
        { "echo hello; exec cat >/dev/null", u"the sign-in window answered \"hello\""_s },
        { "echo callback https://example.com/cb?token=tok-elsewhere; exec cat >/dev/null",
            u"the sign-in window answered \"callback …\""_s },
        { "exit 3", u"the sign-in window quit without an answer (status 3)"_s },
        { nullptr, u"echoquill-signin is not installed"_s },
    };
    for (const auto& [body, why] : cases) {
        SCOPED_TRACE(why.toStdString());
        QFile::remove(programs.filePath(u"echoquill-signin"_s));
        if (QFile program(programs.filePath(u"echoquill-signin"_s)); body) { // closed before it runs
            ASSERT_TRUE(program.open(QIODevice::WriteOnly) && program.write("#!/bin/sh\n" + QByteArray(body) + "\n") > 0
                && program.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        }
        qputenv("PATH", programs.path().toUtf8() + ":/usr/bin:/bin");
        Log::Capture log;
        EXPECT_EQ(signIn(auth), u"error:Authentication failed"_s);
        EXPECT_EQ(log.count(u"[AuthService] Google sign-in failed: "_s + why), 1)
            << log.lines().join('\n').toStdString();
        EXPECT_FALSE(log.lines().join('\n').contains(u"tok-elsewhere"_s));
    }
    qputenv("PATH", path);
}
