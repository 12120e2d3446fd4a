#pragma once

#include "Database.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// The service's state in one SQLite database, used by every request thread
// under one lock, and the service's clock (real time plus a test offset).
class Store {
public:
    // An empty path keeps the database in memory.
    explicit Store(const std::string& path);

    // Runs `work` with the database while holding the lock; returns its result.
    template <class F> auto locked(F&& work)
    {
        std::lock_guard lock(m_mutex);
        return work(m_db);
    }

    // Milliseconds since the epoch as the service sees them.
    [[nodiscard]] std::int64_t nowMs() const;
    void advanceClock(std::int64_t seconds) { m_offsetMs += seconds * 1000; }
    void resetClock() { m_offsetMs = 0; }
    [[nodiscard]] std::int64_t clockOffsetSeconds() const { return m_offsetMs / 1000; }

    // Removes every row; the schema stays.
    void wipe();

private:
    std::mutex m_mutex;
    Database m_db;
    std::atomic<std::int64_t> m_offsetMs = 0;
};

// BEGIN on construction, COMMIT on commit(), ROLLBACK when left without it.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    void commit();

private:
    Database& m_db;
    bool m_done = false;
};
