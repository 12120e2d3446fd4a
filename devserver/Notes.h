#pragma once

#include "Store.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Meeting notes of every account with their action items. A note's body is a
// JSON document shaped like the client's detail record.
class Notes {
public:
    struct Timings {
        int processingSeconds = 30;
    };

    // A recording waiting for the processing delay to pass.
    struct Pending {
        std::int64_t id = 0;
        std::string accountId;
        std::int64_t createdMs = 0;
        std::string micBlob;
        std::optional<std::string> systemBlob;
    };

    enum class Update { Stored, NoNote, NoItem };

    Notes(Store& store, Timings timings);

    // A note in processing state for uploaded blobs; it is listed once processing ends.
    std::int64_t createProcessing(
        const std::string& accountId, const std::string& micBlob, const std::optional<std::string>& systemBlob);
    // Processing notes whose delay ends at or before `untilMs`.
    std::vector<Pending> due(std::int64_t untilMs);
    // Gives a processing note its final body; false when it was finished already.
    bool complete(std::int64_t id, const QJsonObject& doc);

    // Ready notes of the account, newest first, as list rows.
    QJsonArray list(const std::string& accountId);
    // A `source` that does not match the note's own finds nothing.
    std::optional<QJsonObject> detail(
        const std::string& accountId, std::int64_t id, const std::optional<std::string>& source);
    // The item is found by its id, or by its text when it has none.
    Update setActionItemDone(const std::string& accountId, std::int64_t noteId,
        const std::optional<std::string>& source, const std::string& itemKey, bool done);
    // Every action item of the account's ready notes, newest note first.
    QJsonArray actionItems(const std::string& accountId);

    // Inserts a sample note or refreshes it in place, keeping its items' done flags.
    void seed(const std::string& accountId, const std::string& demoKey, const std::string& source,
        const std::string& status, std::int64_t createdMs, QJsonObject doc);

    static QString itemKey(const QJsonObject& item);

private:
    Store& m_store;
    Timings m_timings;
};
