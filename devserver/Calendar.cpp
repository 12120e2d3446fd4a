#include "Calendar.h"

#include "Dates.h"

#include <QJsonDocument>

using namespace Qt::StringLiterals;

Calendar::Calendar(Store& store)
    : m_store(store)
{
}

Calendar::Status Calendar::status(const std::string& accountId)
{
    return m_store.locked([&](Database& db) {
        auto row = db.prepare("SELECT calendar_connected, calendar_needs_reauth FROM accounts WHERE id = ?");
        if (!row.bind(1, accountId).step())
            return Status {};
        return Status { row.integer(0) != 0, row.integer(1) != 0 };
    });
}

void Calendar::setStatus(const std::string& accountId, std::optional<bool> connected, std::optional<bool> needsReauth)
{
    m_store.locked([&](Database& db) {
        db.prepare("UPDATE accounts SET calendar_connected = coalesce(?, calendar_connected), "
                   "calendar_needs_reauth = coalesce(?, calendar_needs_reauth) WHERE id = ?")
            .bind(1, connected)
            .bind(2, needsReauth)
            .bind(3, accountId)
            .run();
    });
}

bool Calendar::hasEvents(const std::string& accountId)
{
    return m_store.locked([&](Database& db) {
        return db.prepare("SELECT 1 FROM calendar_events WHERE account_id = ? LIMIT 1").bind(1, accountId).step();
    });
}

QJsonArray Calendar::upcoming(const std::string& accountId, int limit)
{
    const std::int64_t now = m_store.nowMs();
    return m_store.locked([&](Database& db) {
        QJsonArray meetings;
        auto rows
            = db.prepare("SELECT event_id, start_ms, end_ms, bot_enabled, bot_scheduled, doc FROM calendar_events "
                         "WHERE account_id = ? AND end_ms > ? ORDER BY start_ms, event_id LIMIT ?");
        rows.bind(1, accountId).bind(2, now).bind(3, limit);
        while (rows.step()) {
            const std::int64_t start = rows.integer(1), end = rows.integer(2);
            QJsonObject meeting = QJsonDocument::fromJson(QByteArray::fromStdString(rows.text(5))).object();
            meeting[u"calendarEventId"_s] = QString::fromStdString(rows.text(0));
            meeting[u"startTime"_s] = Dates::iso(start);
            meeting[u"endTime"_s] = Dates::iso(end);
            meeting[u"durationMinutes"_s] = qint64((end - start) / 60000);
            meeting[u"isLive"_s] = start <= now && now < end;
            meeting[u"botScheduled"_s] = rows.integer(4) != 0;
            if (!rows.isNull(3))
                meeting[u"botEnabled"_s] = rows.integer(3) != 0;
            meeting[u"attendeeCount"_s] = meeting[u"attendees"_s].toArray().size();
            meetings.append(meeting);
        }
        return meetings;
    });
}

bool Calendar::autoJoin(const std::string& accountId)
{
    return m_store.locked([&](Database& db) {
        auto row = db.prepare("SELECT auto_join FROM accounts WHERE id = ?");
        return row.bind(1, accountId).step() && row.integer(0) != 0;
    });
}

bool Calendar::setBotEnabled(const std::string& accountId, const std::string& eventId, bool enabled)
{
    return m_store.locked([&](Database& db) {
        db.prepare(
              "UPDATE calendar_events SET bot_enabled = ?, bot_scheduled = ? WHERE account_id = ? AND event_id = ?")
            .bind(1, enabled)
            .bind(2, enabled)
            .bind(3, accountId)
            .bind(4, eventId)
            .run();
        return db.changes() > 0;
    });
}

void Calendar::seed(const std::string& accountId, const std::string& eventId, std::int64_t startMs, std::int64_t endMs,
    bool botScheduled, const QJsonObject& doc)
{
    m_store.locked([&](Database& db) {
        db.prepare("INSERT INTO calendar_events (account_id, event_id, start_ms, end_ms, bot_scheduled, doc) "
                   "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (account_id, event_id) DO UPDATE SET "
                   "start_ms = excluded.start_ms, end_ms = excluded.end_ms, doc = excluded.doc, "
                   "bot_scheduled = CASE WHEN bot_enabled IS NULL THEN excluded.bot_scheduled ELSE bot_scheduled END")
            .bind(1, accountId)
            .bind(2, eventId)
            .bind(3, startMs)
            .bind(4, endMs)
            .bind(5, botScheduled)
            .bind(6, QJsonDocument(doc).toJson(QJsonDocument::Compact).toStdString())
            .run();
    });
}
