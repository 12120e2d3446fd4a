#include "APIClient.h"
#include "AppWindow.h"
#include "AuthStore.h"
#include "Await.h"
#include "Endpoints.h"
#include "KeychainService.h"
#include "KeyringTest.h"
#include "MeetingStore.h"
#include "QtPrinters.h"
#include "ScreenDriver.h"
#include "TestServer.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickItem>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <map>
#include <mutex>

using namespace Qt::StringLiterals;
using namespace ScreenDriver;

namespace {

std::string testData(const char *name)
{
    QFile file(QStringLiteral(ECHOQUILL_TEST_DATA "/") + QLatin1StringView(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll().toStdString();
}

// The service's sign-in, user and notes endpoints on loopback: a code request
// mails a fresh six-digit code (kept in a mailbox the test reads), the right
// code gives a token, and that token loads the user.
class SignInService {
public:
    SignInService()
    {
        auto &s = m_http.server();
        s.Post("/api/desktop/auth/otp", [this](const httplib::Request &req, httplib::Response &res) {
            const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
            const std::string email = body.value(u"email"_s).toString().toStdString();
            std::lock_guard lock(m_mutex);
            if (body.value(u"step"_s).toString() == u"request"_s) {
                m_mailbox[email] = std::to_string(QRandomGenerator::global()->bounded(100000, 1000000));
                res.set_content("{}", "application/json");
                return;
            }
            if (m_mailbox.count(email) && body.value(u"otpCode"_s).toString().toStdString() == m_mailbox[email]) {
                res.set_content(R"({"token": "token-of-ada"})", "application/json");
                return;
            }
            res.status = 401;
        });
        s.Get("/api/desktop/me", [](const httplib::Request &req, httplib::Response &res) {
            if (req.get_header_value("Authorization") != "Bearer token-of-ada") {
                res.status = 401;
                return;
            }
            res.set_content(testData("ui-user.json"), "application/json");
        });
        s.Get("/api/v2/meeting-notes", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(testData("meeting-notes-list.json"), "application/json");
        });
        m_http.start();
        Endpoints::setServiceOrigin(m_http.origin());
    }
    ~SignInService() { APIClient::shared().network().clearConnectionCache(); }

    [[nodiscard]] QString mailedCode(const std::string &email)
    {
        std::lock_guard lock(m_mutex);
        return QString::fromStdString(m_mailbox[email]);
    }
    [[nodiscard]] std::vector<TestServer::Received> received() const { return m_http.received(); }
    [[nodiscard]] int requestsTo(const std::string &path) const
    {
        int n = 0;
        for (const auto &r : m_http.received())
            n += r.path == path ? 1 : 0;
        return n;
    }
    void clearReceived() { m_http.clearReceived(); }

private:
    TestServer m_http;
    std::mutex m_mutex;
    std::map<std::string, std::string> m_mailbox;
};

// The real client, and what the sign-in form shows as its error.
class Client : public AppWindow {
public:
    [[nodiscard]] QString errorLine() const
    {
        QQuickItem *flow = byObjectName(root(), u"OTPFlowView"_s);
        QObject *state = flow ? flow->findChild<QObject *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
        return state ? state->property("errorText").toString() : QString();
    }
};

class ScreensTest : public KeyringTest {
protected:
    // Signs in through the e-mail form with the code the service mailed.
    void signInByEmail(Client &client)
    {
        type(client.window, byObjectName(client.root(), u"emailField"_s), u"ada@example.com"_s);
        click(client.window, button(client.root(), u"Send code"_s));
        ASSERT_TRUE(waitUntil([&] { return byObjectName(client.root(), u"codeField"_s) != nullptr; }));
        type(client.window, byObjectName(client.root(), u"codeField"_s), service.mailedCode("ada@example.com"));
        ASSERT_TRUE(waitUntil([&] { return client.onMainAppView(); }));
    }

    SignInService service;
};

}

TEST_F(ScreensTest, EmailCodeFlowEndsInTheMainApplication)
{
    Client client;
    ASSERT_TRUE(client.window);
    ASSERT_TRUE(client.onAuthView());
    grab(client.window, u"AuthView"_s);

    // An empty address is refused before anything is sent.
    click(client.window, button(client.root(), u"Send code"_s));
    EXPECT_TRUE(byText(client.root(), u"Please enter your email"_s));
    EXPECT_EQ(service.requestsTo("/api/desktop/auth/otp"), 0);

    type(client.window, byObjectName(client.root(), u"emailField"_s), u"ada@example.com"_s);
    click(client.window, button(client.root(), u"Send code"_s));
    ASSERT_TRUE(waitUntil([&] { return byObjectName(client.root(), u"codeField"_s) != nullptr; }));
    EXPECT_TRUE(byText(client.root(), u"Enter the 6-digit code sent to ada@example.com"_s));
    EXPECT_FALSE(byText(client.root(), u"Please enter your email"_s)) << "a new attempt clears the old error";
    const auto requests = service.received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(requests[0].body)).object(),
        QJsonObject({{u"email"_s, u"ada@example.com"_s}, {u"step"_s, u"request"_s}}));
    grab(client.window, u"AuthView-code"_s);

    // Six typed digits verify on their own: no button press.
    type(client.window, byObjectName(client.root(), u"codeField"_s), service.mailedCode("ada@example.com"));
    ASSERT_TRUE(waitUntil([&] { return client.onMainAppView(); }));
    EXPECT_TRUE(waitUntil([&] { return byText(client.root(), u"Ada King Lovelace"_s) != nullptr; }))
        << "the sidebar's user card shows who signed in";
    EXPECT_EQ(KeychainService::loadToken(), u"token-of-ada"_s);
}

TEST_F(ScreensTest, CodeFormFiltersChecksLengthAndShowsTheStoresError)
{
    Client client;
    type(client.window, byObjectName(client.root(), u"emailField"_s), u"ada@example.com"_s);
    click(client.window, button(client.root(), u"Send code"_s));
    ASSERT_TRUE(waitUntil([&] { return byObjectName(client.root(), u"codeField"_s) != nullptr; }));
    QQuickItem *field = byObjectName(client.root(), u"codeField"_s);

    // Pasted, "123 456" keeps "123 45", then loses the blank: five digits, no verification.
    paste(client.window, field, u"123 456"_s);
    EXPECT_EQ(field->property("text").toString(), u"12345"_s);
    click(client.window, button(client.root(), u"Verify code"_s));
    EXPECT_EQ(client.errorLine(), u"Please enter the full 6-digit code"_s);
    EXPECT_EQ(service.requestsTo("/api/desktop/auth/otp"), 1) << "only the code request so far";

    // A sixth digit verifies; the service refuses the code and the store's error shows.
    const QString mailed = service.mailedCode("ada@example.com");
    const QChar wrongDigit = mailed.endsWith(u'9') ? u'8' : u'9';
    type(client.window, field, QString(wrongDigit));
    ASSERT_TRUE(waitUntil([&] { return client.errorLine() == u"Session expired, please sign in again"_s; }));
    EXPECT_TRUE(byText(client.root(), u"Session expired, please sign in again"_s));
    EXPECT_TRUE(client.onAuthView());

    // "Change email" keeps the address and empties the code.
    click(client.window, byText(client.root(), u"Change email"_s));
    QQuickItem *email = byObjectName(client.root(), u"emailField"_s);
    ASSERT_TRUE(email);
    EXPECT_EQ(email->property("text").toString(), u"ada@example.com"_s);
    click(client.window, button(client.root(), u"Send code"_s));
    ASSERT_TRUE(waitUntil([&] { return byObjectName(client.root(), u"codeField"_s) != nullptr; }));
    EXPECT_EQ(byObjectName(client.root(), u"codeField"_s)->property("text").toString(), QString());
}

TEST_F(ScreensTest, AccountLinkTogglesItsWordingOnly)
{
    Client client;
    QQuickItem *link = byText(client.root(), u"Already have an account? Sign in"_s);
    ASSERT_TRUE(link);
    click(client.window, link);
    EXPECT_EQ(link->property("text").toString(), u"New here? Create account"_s);
    click(client.window, link);
    EXPECT_EQ(link->property("text").toString(), u"Already have an account? Sign in"_s);
    EXPECT_TRUE(service.received().empty());
}

TEST_F(ScreensTest, WindowKeepsItsMinimumSizeOnBothSidesOfTheGate)
{
    Client client;
    const auto shrinkAndMeasure = [&] {
        client.window->resize(500, 300);
        waitUntil([] { return false; }, 400);
        return client.window->size();
    };
    const QSize signedOut = shrinkAndMeasure();
    EXPECT_GE(signedOut.width(), 960);
    EXPECT_GE(signedOut.height(), 640);

    client.window->resize(1200, 800);
    signInByEmail(client);
    const QSize signedIn = shrinkAndMeasure();
    EXPECT_GE(signedIn.width(), 960);
    EXPECT_GE(signedIn.height(), 640);
}

TEST_F(ScreensTest, ProfileShowsTheAccountAndSignsOutWithoutAskingTheService)
{
    KeychainService::saveToken(u"token-of-ada"_s);
    Client client;
    ASSERT_TRUE(waitUntil([&] { return client.onMainAppView(); }));
    ASSERT_TRUE(waitUntil([&] { return client.delegate.meetingStore()->meetings().size() == 2; }));
    grab(client.window, u"MainAppView"_s);

    click(client.window, byObjectName(client.root(), u"gear"_s));
    ASSERT_TRUE(waitUntil([&] { return shows(client.root(), "ProfileView"); }));
    waitUntil([] { return false; }, 100);
    grab(client.window, u"ProfileView"_s);
    const auto value = [&](const QString &label) {
        QQuickItem *item = byObjectName(client.root(), u"value:"_s + label);
        return item ? item->property("text").toString() : u"(missing)"_s;
    };
    EXPECT_EQ(value(u"First name"_s), u"Ada"_s);
    EXPECT_EQ(value(u"Last name"_s), u"King Lovelace"_s);
    EXPECT_EQ(value(u"Email"_s), u"ada@example.com"_s);

    // Deleting the account is explained, not attempted.
    service.clearReceived();
    click(client.window, button(client.root(), u"Delete account"_s));
    EXPECT_TRUE(byText(client.root(), u"Account deletion is handled on the web for now."_s));

    click(client.window, button(client.root(), u"Sign out everywhere"_s));
    ASSERT_TRUE(waitUntil([&] { return client.onAuthView(); }));
    waitUntil([] { return false; }, 200);
    EXPECT_TRUE(service.received().empty()) << "signing out sends nothing";
    EXPECT_FALSE(KeychainService::loadToken().has_value());
}

TEST_F(ScreensTest, SidebarNavigatesAndAnUnknownNoteRequestOpensNothing)
{
    KeychainService::saveToken(u"token-of-ada"_s);
    Client client;
    ASSERT_TRUE(waitUntil([&] { return client.onMainAppView(); }));
    MeetingStore *meetings = client.delegate.meetingStore();
    ASSERT_TRUE(waitUntil([&] { return meetings->meetings().size() == 2; })) << "the main view loads the notes";
    QQuickItem *detail = byObjectName(client.root(), u"detailColumn"_s);
    ASSERT_TRUE(detail);
    const auto detailShows = [&](const QString &text) { return byText(detail, text) != nullptr; };
    EXPECT_TRUE(detailShows(u"Home"_s));

    click(client.window, byText(client.root(), u"Actions"_s));
    EXPECT_TRUE(detailShows(u"Actions"_s));

    meetings->setNavigateToMeetingId(999);
    EXPECT_FALSE(meetings->navigateToMeetingId().has_value());
    EXPECT_FALSE(meetings->selectedMeeting().has_value());
    EXPECT_TRUE(detailShows(u"Actions"_s)) << "nothing opens";

    meetings->setNavigateToMeetingId(41);
    EXPECT_TRUE(shows(detail, "MeetingDetailView")) << "the note opens in Meetings";
    ASSERT_TRUE(meetings->selectedMeeting().has_value());
    EXPECT_EQ(meetings->selectedMeeting()->id, 41);

    // The theme switch turns the sidebar dark and back.
    QQuickItem *sidebar = byObjectName(client.root(), u"SidebarView"_s);
    ASSERT_TRUE(sidebar);
    EXPECT_EQ(sidebar->property("color").value<QColor>().name(), u"#faf6ee"_s);
    click(client.window, byText(client.root(), u"Night"_s));
    EXPECT_EQ(sidebar->property("color").value<QColor>().name(), u"#16161a"_s);
    waitUntil([] { return false; }, 200);
    grab(client.window, u"MainAppView-night"_s);
    click(client.window, byText(client.root(), u"Golden"_s));
    EXPECT_EQ(sidebar->property("color").value<QColor>().name(), u"#faf6ee"_s);
}
