#pragma once

#include "BlobStore.h"
#include "Notes.h"
#include "Store.h"

#include <QJsonObject>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Turns uploaded recordings into notes once their processing delay has
// passed. The local service stores recordings and reads their length; it does
// not transcribe, and the note it writes says so.
class Processing {
public:
    Processing(Store& store, Notes& notes, BlobStore& blobs);
    ~Processing();

    // A thread that finishes due notes as their time comes.
    void start();
    void stop();

    // Finishes every note whose delay has passed (every waiting note with `all`);
    // returns their ids. Safe to call from any thread.
    std::vector<std::int64_t> finishDue(bool all = false);

    // The body of a finished desktop recording.
    static QJsonObject noteFor(const Notes::Pending& pending, std::optional<double> micSeconds);
    // "45 sec", "12 min", "1 h 5 min".
    static QString durationText(double seconds);

private:
    Store& m_store;
    Notes& m_notes;
    BlobStore& m_blobs;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};
