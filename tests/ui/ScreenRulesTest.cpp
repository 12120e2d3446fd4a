#include "APIClient.h"
#include "AccountName.h"
#include "AuthStore.h"
#include "Await.h"
#include "Endpoints.h"
#include "KeyringTest.h"
#include "MainNavigation.h"
#include "MeetingSearch.h"
#include "MeetingStore.h"
#include "NavItem.h"
#include "OTPCode.h"
#include "OTPFlow.h"
#include "QtPrinters.h"
#include "TestServer.h"

#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>

using namespace Qt::StringLiterals;

namespace {

std::string testData(const char *name)
{
    QFile file(QStringLiteral(ECHOQUILL_TEST_DATA "/") + QLatin1StringView(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll().toStdString();
}

}

TEST(OTPCode, KeepsTheFirstSixCharactersThenOnlyNumbers)
{
    struct Case {
        QString typed;
        QString code;
    };
    const Case cases[] = {
        {u"12a45678"_s, u"12456"_s},       // the prefix keeps "12a456", the letter goes
        {u"123 456"_s, u"12345"_s},        // "123 45", then the blank goes
        {u"1234567890"_s, u"123456"_s},
        {u"٣٤٥٦٧٨"_s, u"٣٤٥٦٧٨"_s},          // Arabic-Indic digits are numbers
        {u"１２３４５６"_s, u"１２３４５６"_s}, // so are full-width ones
        {u"Ⅻ½三x9"_s, u"Ⅻ½三9"_s},          // numerals and fractions count as numbers too
        {u"abcdef"_s, u""_s},
        {u""_s, u""_s},
    };
    for (const Case &c : cases)
        EXPECT_EQ(OTPCode::filter(c.typed), c.code) << c.typed.toStdString();

    EXPECT_TRUE(OTPCode::isComplete(u"123456"_s));
    EXPECT_TRUE(OTPCode::isComplete(u"٣٤٥٦٧٨"_s));
    EXPECT_FALSE(OTPCode::isComplete(u"12345"_s));
    EXPECT_EQ(OTPCode::characterCount(u"1\u03032"_s), 2) << "a digit with a combining mark is one character";
}

TEST(AccountName, SplitsTheDisplayNameIntoFirstAndLastName)
{
    struct Case {
        QString name;
        QString first;
        QString last;
    };
    const Case cases[] = {
        {u"Ada King Lovelace"_s, u"Ada"_s, u"King Lovelace"_s},
        {u"Ada"_s, u"Ada"_s, u""_s},
        {u""_s, u""_s, u""_s},
        {u"  Ada   Lovelace "_s, u"Ada"_s, u"Lovelace"_s},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(AccountName::firstNameOf(c.name), c.first) << c.name.toStdString();
        EXPECT_EQ(AccountName::lastNameOf(c.name), c.last) << c.name.toStdString();
    }
}

TEST(MeetingSearch, FindsTitlesAndParticipantsIgnoringCase)
{
    MeetingNote pricing;
    pricing.id = 1;
    pricing.title = u"Pricing review"_s;
    pricing.participants = {u"Ada Lovelace"_s};
    MeetingNote standup;
    standup.id = 2;
    standup.title = u"Standup"_s;
    standup.participants = {u"Grace Hopper"_s};
    const QList<MeetingNote> notes {pricing, standup};

    const auto ids = [&](const QString &text) {
        QList<qint64> found;
        for (const MeetingNote &n : MeetingSearch::filtered(notes, text))
            found.append(n.id);
        return found;
    };
    EXPECT_EQ(ids(u"PRICING"_s), QList<qint64>({1}));
    EXPECT_EQ(ids(u"hopper"_s), QList<qint64>({2}));
    EXPECT_EQ(ids(u"e"_s), QList<qint64>({1, 2}));
    EXPECT_EQ(ids(u"zebra"_s), QList<qint64>());
    EXPECT_EQ(ids(u"   "_s), QList<qint64>({1, 2})) << "blank text filters nothing";
}

class MainNavigationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.server().Get("/api/v2/meeting-notes", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(testData("meeting-notes-list.json"), "application/json");
        });
        server.server().Get("/api/v2/meeting-notes/41", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(testData("meeting-note-41.json"), "application/json");
        });
        server.start();
        Endpoints::setServiceOrigin(server.origin());
        navigation.setMeetingStore(&store);
    }
    void TearDown() override { APIClient::shared().network().clearConnectionCache(); }

    int requestsFor(const std::string &path) const
    {
        int n = 0;
        for (const auto &r : server.received())
            n += r.path == path ? 1 : 0;
        return n;
    }

    TestServer server;
    MeetingStore store {[] { return std::optional<QString>(u"tok"_s); }};
    MainNavigation navigation;
};

TEST_F(MainNavigationTest, AppearingLoadsTheNotesOnce)
{
    EXPECT_EQ(navigation.selectedNav(), NavItem::home);
    navigation.appear();
    ASSERT_TRUE(waitUntil([&] { return store.meetings().size() == 2; }));
    EXPECT_EQ(requestsFor("/api/v2/meeting-notes"), 1);
}

TEST_F(MainNavigationTest, ARequestedNoteOpensInMeetingsAndLoadsItsDetail)
{
    navigation.appear();
    ASSERT_TRUE(waitUntil([&] { return store.meetings().size() == 2; }));

    store.setNavigateToMeetingId(41);
    EXPECT_EQ(navigation.selectedNav(), NavItem::meetings);
    ASSERT_TRUE(store.selectedMeeting().has_value());
    EXPECT_EQ(store.selectedMeeting()->id, 41);
    EXPECT_FALSE(store.navigateToMeetingId().has_value()) << "the request is consumed";
    ASSERT_TRUE(waitUntil([&] { return store.meetingDetail().has_value(); }));
    EXPECT_EQ(store.meetingDetail()->id, 41);
}

TEST_F(MainNavigationTest, AnUnknownNoteIsClearedWithoutOpeningAnything)
{
    navigation.appear();
    ASSERT_TRUE(waitUntil([&] { return store.meetings().size() == 2; }));
    navigation.setSelectedNav(NavItem::actions);

    QSignalSpy selected(&store, &MeetingStore::selectedMeetingChanged);
    store.setNavigateToMeetingId(999);
    EXPECT_FALSE(store.navigateToMeetingId().has_value());
    EXPECT_EQ(navigation.selectedNav(), NavItem::actions);
    EXPECT_FALSE(store.selectedMeeting().has_value());
    EXPECT_EQ(selected.count(), 0);
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(requestsFor("/api/v2/meeting-notes/999"), 0) << "no detail is requested";
}

TEST_F(MainNavigationTest, SearchTextSwitchesToMeetingsUntilCleared)
{
    navigation.setSearchText(u" "_s);
    EXPECT_EQ(navigation.selectedNav(), NavItem::home) << "blank text is no search";
    MeetingNote open;
    open.id = 41;
    store.setSelectedMeeting(open);
    navigation.setSearchText(u"ada"_s);
    EXPECT_EQ(navigation.selectedNav(), NavItem::meetings);
    EXPECT_FALSE(store.selectedMeeting().has_value()) << "the results replace an open note";
    navigation.setSelectedNav(NavItem::profile);
    navigation.setSearchText(u""_s);
    EXPECT_EQ(navigation.selectedNav(), NavItem::profile) << "clearing does not navigate";
}

class OTPFlowTest : public KeyringTest {
protected:
    void SetUp() override
    {
        KeyringTest::SetUp();
        server.server().Post("/api/desktop/auth/otp", [this](const httplib::Request &req, httplib::Response &res) {
            const bool request = req.body.find("\"request\"") != std::string::npos;
            res.status = request ? codeRequestStatus.load() : 401;
            res.set_content("{}", "application/json");
        });
        server.start();
        Endpoints::setServiceOrigin(server.origin());
        flow.setAuthStore(&store);
    }
    void TearDown() override
    {
        APIClient::shared().network().clearConnectionCache();
        KeyringTest::TearDown();
    }

    TestServer server;
    std::atomic<int> codeRequestStatus {200};
    AuthStore store;
    OTPFlow flow;
};

TEST_F(OTPFlowTest, AFailedCodeRequestStaysOnTheAddressWithTheErrorsText)
{
    codeRequestStatus = 500;
    flow.setEmail(u"   "_s); // blanks are an address here: nothing but emptiness is refused
    await(flow.requestCode());
    EXPECT_EQ(flow.step(), OTPFlow::Step::enterEmail);
    EXPECT_EQ(flow.errorText(), u"Server error (500)"_s);
    EXPECT_FALSE(flow.isSending());
    ASSERT_EQ(server.received().size(), 1u);
    EXPECT_NE(server.received()[0].body.find("\"email\":\"   \""), std::string::npos) << "sent as typed";

    codeRequestStatus = 200;
    await(flow.requestCode());
    EXPECT_EQ(flow.step(), OTPFlow::Step::codeEntry);
    EXPECT_EQ(flow.errorText(), QString()) << "a new attempt clears the old error";
}

TEST_F(OTPFlowTest, ItsOwnErrorHidesTheStoresUntilTheNextAttempt)
{
    flow.setEmail(u"ada@example.com"_s);
    await(flow.requestCode());
    ASSERT_EQ(flow.step(), OTPFlow::Step::codeEntry);

    flow.setCode(u"1234567"_s); // six digits kept: verifies without a button
    EXPECT_EQ(flow.code(), u"123456"_s);
    ASSERT_TRUE(waitUntil([&] { return store.error().has_value() && !store.isLoading(); }));
    EXPECT_EQ(flow.errorText(), u"Session expired, please sign in again"_s);

    flow.setCode(u"12345"_s);
    flow.verify();
    EXPECT_EQ(flow.errorText(), u"Please enter the full 6-digit code"_s) << "the form's own error comes first";
    flow.changeEmail();
    EXPECT_EQ(flow.step(), OTPFlow::Step::enterEmail);
    EXPECT_EQ(flow.code(), QString());
    EXPECT_EQ(flow.email(), u"ada@example.com"_s);
    EXPECT_EQ(flow.errorText(), u"Please enter the full 6-digit code"_s) << "changing the address keeps the error";

    flow.toggleAccountLink();
    EXPECT_EQ(flow.accountLinkText(), u"New here? Create account"_s);
    const auto before = server.received().size();
    await(flow.requestCode());
    EXPECT_EQ(server.received().size(), before + 1);
    EXPECT_EQ(server.received().back().body.find("New"), std::string::npos) << "the wording is not sent";
    EXPECT_EQ(flow.errorText(), u"Session expired, please sign in again"_s) << "cleared: the store's error shows again";
}
