#include "DemoData.h"

#include "Dates.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr std::int64_t minute = 60 * 1000;
constexpr std::int64_t hour = 60 * minute;

QJsonArray strings(const QStringList& list)
{
    return QJsonArray::fromStringList(list);
}

QJsonObject item(
    const QString& who, const QString& what, const QString& id = {}, const QString& due = {}, bool done = false)
{
    QJsonObject item { { u"who"_s, who }, { u"what"_s, what }, { u"done"_s, done } };
    if (!id.isEmpty())
        item[u"id"_s] = id;
    if (!due.isEmpty())
        item[u"due"_s] = due;
    return item;
}

QJsonObject topic(const QString& title, const std::optional<QStringList>& bullets = std::nullopt)
{
    QJsonObject topic { { u"title"_s, title } };
    if (bullets)
        topic[u"bullets"_s] = strings(*bullets);
    return topic;
}

QJsonObject properties(const QString& source, std::int64_t recordedMs, int speakers, int seconds)
{
    return { { u"source"_s, source }, { u"recorded"_s, Dates::recorded(recordedMs) }, { u"speakers"_s, speakers },
        { u"durationSeconds"_s, seconds } };
}

struct SampleNote {
    std::string key;
    std::string source;
    std::string status;
    std::int64_t createdMs;
    QJsonObject doc;
};

std::vector<SampleNote> sampleNotes(std::int64_t now)
{
    const std::int64_t today = Dates::startOfDay(now);
    // Both earlier today, never before midnight; just after midnight the live one is still the newer.
    const std::int64_t live = std::max(now - 8 * minute, today + minute);
    const std::int64_t design = std::max(now - 2 * hour, today);
    const std::int64_t pricing = Dates::startOfDay(now, -1) + 16 * hour + 20 * minute;
    const std::int64_t northwind = Dates::startOfDay(now, -1) + 10 * hour;
    const std::int64_t oneOnOne = Dates::startOfDay(now, -3) + 11 * hour + 30 * minute;
    const std::int64_t quarterly = Dates::startOfDay(now, -9) + 14 * hour;
    const std::int64_t hiring = Dates::startOfDay(now, -20) + 15 * hour;

    return {
        { "live-standup", "recall", "recording", live,
            { { u"title"_s, u"Daily standup"_s },
                { u"participants"_s,
                    strings({ u"Alex Rivera"_s, u"Priya Shah"_s, u"Marco Bianchi"_s, u"Lena Vogel"_s }) },
                { u"snippet"_s, u"The meeting bot is in this meeting and recording."_s },
                { u"decisions"_s, QJsonArray() }, { u"actionItems"_s, QJsonArray() }, { u"topics"_s, QJsonArray() } } },
        { "design-review", "desktop", "completed", design,
            { { u"title"_s, u"Design review: onboarding flow"_s },
                { u"participants"_s, strings({ u"Alex Rivera"_s, u"Priya Shah"_s, u"Jonas Berg"_s }) },
                { u"duration"_s, u"42 min"_s },
                { u"snippet"_s, u"Signup goes down to two steps; the new welcome screen is tested next week."_s },
                { u"summaryText"_s,
                    u"The team walked through the onboarding flow end to end. Signup loses its third step, and the "
                    "new welcome screen goes to a small share of new accounts first so its effect can be measured."_s },
                { u"decisions"_s,
                    strings({ u"Signup drops to two steps: e-mail, then workspace name."_s,
                        u"The welcome screen ships behind a flag for 10% of new accounts."_s }) },
                { u"actionItems"_s,
                    QJsonArray {
                        item(u"Priya Shah"_s, u"Update the signup mockups to two steps"_s, u"dr-1"_s, u"Friday"_s),
                        item(u"Jonas Berg"_s, u"Set up the feature flag for the welcome screen"_s, u"dr-2"_s),
                        item(u"Alex Rivera"_s, u"Share the test plan with support"_s, {}, {}, true) } },
                { u"topics"_s,
                    QJsonArray { topic(u"Signup form"_s,
                                     QStringList { u"Workspace size question moves into the product"_s,
                                         u"Password rules shown before typing, not after"_s }),
                        topic(u"Welcome screen"_s,
                            QStringList { u"Three cards instead of a video"_s, u"Skip link stays visible"_s }),
                        topic(u"Open questions"_s) } },
                { u"properties"_s, properties(u"Desktop"_s, design, 3, 2520) } } },
        { "pricing-voice", "telegram", "completed", pricing,
            { { u"title"_s, u"Voice note: pricing ideas"_s }, { u"participants"_s, strings({ u"Alex Rivera"_s }) },
                { u"duration"_s, u"4 min"_s },
                { u"snippet"_s, u"Three tiers, and an annual discount worth testing."_s },
                { u"summaryText"_s,
                    u"A voice note about pricing: three tiers with the middle one as the default, and an annual "
                    "discount to try once the page exists."_s },
                { u"decisions"_s, QJsonArray() },
                { u"actionItems"_s,
                    QJsonArray { item(
                        u"Alex Rivera"_s, u"Draft a pricing page with three tiers"_s, u"pv-1"_s, u"Next Monday"_s) } },
                { u"topics"_s,
                    QJsonArray { topic(u"Tiers"_s, QStringList { u"Free, Team, Business"_s, u"Team is the default"_s }),
                        topic(u"Annual discount"_s, QStringList {}) } },
                { u"properties"_s, properties(u"Telegram voice note"_s, pricing, 1, 250) } } },
        { "northwind-call", "recall", "completed", northwind,
            { { u"title"_s, u"Customer call — Northwind"_s },
                { u"participants"_s, strings({ u"Alex Rivera"_s, u"Dana Whitfield"_s, u"Sam Okafor"_s }) },
                { u"duration"_s, u"31 min"_s }, { u"snippet"_s, u"Northwind moves to the annual plan from July."_s },
                { u"summaryText"_s,
                    u"Northwind is happy with the notes but wants shared folders. They move to the annual plan "
                    "from July and will try shared folders in the beta."_s },
                { u"decisions"_s, strings({ u"Northwind moves to the annual plan from July."_s }) },
                { u"actionItems"_s,
                    QJsonArray { item(u"Sam Okafor"_s, u"Send the annual plan quote"_s, u"nw-1"_s, u"Wednesday"_s),
                        item(u"Alex Rivera"_s, u"Invite Dana to the shared folders beta"_s, u"nw-2"_s, {}, true) } },
                { u"topics"_s,
                    QJsonArray { topic(u"Feedback"_s,
                                     QStringList { u"Summaries are read by the whole team"_s,
                                         u"Action items get lost without folders"_s }),
                        topic(u"Contract"_s, QStringList { u"Annual plan from July"_s }) } },
                { u"properties"_s, properties(u"Meeting bot"_s, northwind, 3, 1860) } } },
        { "one-on-one", "desktop", "completed", oneOnOne,
            { { u"title"_s, u"1:1 with Priya"_s },
                { u"participants"_s, strings({ u"Alex Rivera"_s, u"Priya Shah"_s }) }, { u"duration"_s, u"28 min"_s },
                { u"snippet"_s, u"Research plan for onboarding interviews."_s },
                { u"summaryText"_s, u"Priya wants to own the onboarding research and will write a plan for it."_s },
                { u"decisions"_s, QJsonArray() },
                { u"actionItems"_s,
                    QJsonArray { item(u"Priya Shah"_s, u"Write up the research plan for onboarding interviews"_s,
                        u"oo-1"_s, u"End of month"_s) } },
                { u"topics"_s,
                    QJsonArray { topic(u"Goals"_s, QStringList { u"Lead one research project this quarter"_s }) } } } },
        { "quarterly", "recall", "completed", quarterly,
            { { u"title"_s, u"Quarterly planning"_s },
                { u"participants"_s,
                    strings(
                        { u"Alex Rivera"_s, u"Priya Shah"_s, u"Marco Bianchi"_s, u"Lena Vogel"_s, u"Jonas Berg"_s }) },
                { u"duration"_s, u"1 h 25 min"_s }, { u"snippet"_s, u"Three goals for the quarter, one owner each."_s },
                { u"summaryText"_s,
                    u"The quarter has three goals: a faster first note, shared folders, and calendar sync for "
                    "Outlook. Each has one owner and a check-in every two weeks."_s },
                { u"decisions"_s,
                    strings({ u"First note within five minutes of signup is the headline goal."_s,
                        u"Shared folders ship before Outlook sync."_s, u"Check-ins every second Monday."_s }) },
                { u"actionItems"_s,
                    QJsonArray { item(u"Marco Bianchi"_s, u"Break the first-note goal into milestones"_s, u"qp-1"_s,
                                     u"Next week"_s),
                        item(u"Lena Vogel"_s, u"Estimate Outlook sync"_s, u"qp-2"_s, {}, true),
                        item(u"Jonas Berg"_s, u"Book the check-in series"_s) } },
                { u"topics"_s,
                    QJsonArray { topic(u"Goals"_s,
                                     QStringList { u"Faster first note"_s, u"Shared folders"_s, u"Outlook sync"_s }),
                        topic(u"Risks"_s, QStringList { u"Two people on leave in the second month"_s }) } },
                { u"properties"_s, properties(u"Meeting bot"_s, quarterly, 5, 5100) } } },
        { "hiring-debrief", "desktop", "completed", hiring,
            { { u"title"_s, u"Hiring debrief: backend role"_s },
                { u"participants"_s, strings({ u"Alex Rivera"_s, u"Marco Bianchi"_s, u"Lena Vogel"_s }) },
                { u"duration"_s, u"19 min"_s }, { u"decisions"_s, strings({ u"Kim moves to the final round."_s }) },
                { u"actionItems"_s, QJsonArray() }, { u"topics"_s, QJsonArray() } } },
    };
}

QJsonObject person(const QString& name, const QString& email)
{
    QJsonObject person;
    person[u"name"_s] = name.isNull() ? QJsonValue() : QJsonValue(name);
    person[u"email"_s] = email.isNull() ? QJsonValue() : QJsonValue(email);
    return person;
}

}

namespace DemoData {

void seed(Store& store, Notes& notes, Calendar& calendar, std::int64_t nowMs)
{
    store.locked([](Database& db) {
        db.prepare("INSERT OR IGNORE INTO accounts (id, email, name, free_credits, paid_credits, top_up_credits, "
                   "current_streak, longest_streak, is_founder, calendar_connected) VALUES (?, ?, 'Alex Rivera', 5, "
                   "20, 0, 4, 11, 1, 1)")
            .bind(1, accountId)
            .bind(2, email)
            .run();
    });
    for (auto& note : sampleNotes(nowMs))
        notes.seed(accountId, note.key, note.source, note.status, note.createdMs, std::move(note.doc));
    seedCalendar(calendar, accountId, nowMs);
}

void seedCalendar(Calendar& calendar, const std::string& account, std::int64_t nowMs)
{
    const std::int64_t today = Dates::startOfDay(nowMs);
    const std::int64_t tomorrow = Dates::startOfDay(nowMs, 1);
    const std::int64_t inThreeDays = Dates::startOfDay(nowMs, 3);
    // Two hours from now, or halfway to midnight when that would be tomorrow.
    std::int64_t laterToday = nowMs + 2 * hour;
    if (laterToday >= tomorrow)
        laterToday = nowMs + (tomorrow - nowMs) / 2;
    const std::int64_t liveStart = std::max(nowMs - 10 * minute, today);

    const QJsonArray team { person(u"Alex Rivera"_s, QString::fromStdString(DemoData::email)),
        person(u"Priya Shah"_s, u"priya@echoquill.test"_s), person(u"Marco Bianchi"_s, u"marco@echoquill.test"_s),
        person(u"Lena Vogel"_s, u"lena@echoquill.test"_s) };

    calendar.seed(account, "evt-standup", liveStart, liveStart + 30 * minute, true,
        { { u"title"_s, u"Daily standup"_s }, { u"platform"_s, u"Google Meet"_s },
            { u"meetingUrl"_s, u"https://meet.google.com/abc-defg-hij"_s }, { u"attendees"_s, team } });
    calendar.seed(account, "evt-critique", laterToday, laterToday + 45 * minute, false,
        { { u"title"_s, u"Design critique"_s }, { u"platform"_s, u"Zoom"_s }, { u"platformLabel"_s, u"Zoom"_s },
            { u"meetingUrl"_s, u"https://zoom.us/j/5551234567"_s },
            { u"attendees"_s,
                QJsonArray { person(u"Priya Shah"_s, u"priya@echoquill.test"_s),
                    person(u"Jonas Berg"_s, u"jonas@echoquill.test"_s) } } });
    calendar.seed(account, "evt-northwind", tomorrow + 10 * hour, tomorrow + 10 * hour + 30 * minute, true,
        { { u"title"_s, u"Northwind onboarding"_s }, { u"platform"_s, u"Microsoft Teams"_s },
            { u"meetingUrl"_s, u"https://teams.microsoft.com/l/meetup-join/19%3ameeting_northwind"_s },
            { u"attendees"_s,
                QJsonArray {
                    person({}, u"dana@northwind.test"_s), person(u""_s, u"sam@northwind.test"_s), person({}, {}) } } });
    calendar.seed(account, "evt-vendor", tomorrow + 15 * hour + 30 * minute, tomorrow + 16 * hour + 30 * minute, false,
        { { u"title"_s, u"Vendor sync"_s }, { u"platform"_s, u"Zoom"_s },
            { u"meetingUrl"_s, u"https://zoom.us/j/5559876543"_s }, { u"declined"_s, true },
            { u"attendees"_s, QJsonArray { person(u"Chris Vendor"_s, u"chris@vendor.test"_s) } } });
    calendar.seed(account, "evt-focus", inThreeDays + 9 * hour, inThreeDays + 11 * hour, false,
        { { u"title"_s, u"Focus time"_s }, { u"attendees"_s, QJsonArray() } });
    calendar.seed(account, "evt-planning", inThreeDays + 14 * hour, inThreeDays + 15 * hour + 30 * minute, true,
        { { u"title"_s, u"Roadmap review"_s }, { u"platform"_s, u"Google Meet"_s },
            { u"meetingUrl"_s, u"https://meet.google.com/xyz-uvwx-rst"_s } });
}

void fillEmptyCalendar(Calendar& calendar, const std::string& account, std::int64_t nowMs)
{
    if (!calendar.hasEvents(account))
        seedCalendar(calendar, account, nowMs);
}

}
