#include "Store.h"

#include <chrono>

namespace {

// Documents (note bodies, calendar events) are JSON text; the columns beside
// them are what the service looks things up by.
constexpr const char* schema = R"sql(
CREATE TABLE IF NOT EXISTS accounts (
    id TEXT PRIMARY KEY,
    email TEXT NOT NULL UNIQUE,
    name TEXT NOT NULL,
    free_credits INTEGER NOT NULL DEFAULT 3,
    paid_credits INTEGER NOT NULL DEFAULT 0,
    top_up_credits INTEGER NOT NULL DEFAULT 0,
    current_streak INTEGER NOT NULL DEFAULT 0,
    longest_streak INTEGER NOT NULL DEFAULT 0,
    is_founder INTEGER NOT NULL DEFAULT 0,
    calendar_connected INTEGER NOT NULL DEFAULT 0,
    calendar_needs_reauth INTEGER NOT NULL DEFAULT 0,
    auto_join INTEGER NOT NULL DEFAULT 1
);
CREATE TABLE IF NOT EXISTS sessions (
    token TEXT PRIMARY KEY,
    account_id TEXT NOT NULL REFERENCES accounts(id) ON DELETE CASCADE
);
CREATE TABLE IF NOT EXISTS codes (
    email TEXT PRIMARY KEY,
    code TEXT NOT NULL,
    expires_ms INTEGER NOT NULL,
    tries_left INTEGER NOT NULL,
    used INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS code_requests (
    email TEXT NOT NULL,
    at_ms INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS client_tokens (
    token TEXT PRIMARY KEY,
    account_id TEXT NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    pathname TEXT NOT NULL,
    expires_ms INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS blobs (
    pathname TEXT PRIMARY KEY,
    account_id TEXT NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    size INTEGER NOT NULL,
    content_type TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS notes (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    account_id TEXT NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    source TEXT NOT NULL,
    status TEXT NOT NULL,
    created_ms INTEGER NOT NULL,
    ready_ms INTEGER,
    mic_blob TEXT,
    system_blob TEXT,
    demo_key TEXT UNIQUE,
    doc TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS calendar_events (
    account_id TEXT NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    event_id TEXT NOT NULL,
    start_ms INTEGER NOT NULL,
    end_ms INTEGER NOT NULL,
    bot_enabled INTEGER,
    bot_scheduled INTEGER NOT NULL DEFAULT 0,
    doc TEXT NOT NULL,
    PRIMARY KEY (account_id, event_id)
);
)sql";

}

Store::Store(const std::string& path)
    : m_db(path)
{
    m_db.exec(schema);
}

std::int64_t Store::nowMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() + m_offsetMs;
}

void Store::wipe()
{
    locked([](Database& db) {
        Transaction tx(db);
        for (const char* table :
            { "calendar_events", "notes", "blobs", "client_tokens", "codes", "code_requests", "sessions", "accounts" })
            db.exec(std::string("DELETE FROM ") + table);
        db.exec("DELETE FROM sqlite_sequence");
        tx.commit();
    });
}

Transaction::Transaction(Database& db)
    : m_db(db)
{
    m_db.exec("BEGIN");
}

Transaction::~Transaction()
{
    if (!m_done) {
        try {
            m_db.exec("ROLLBACK");
        } catch (const DatabaseError&) {
        }
    }
}

void Transaction::commit()
{
    m_db.exec("COMMIT");
    m_done = true;
}
