#include "Uploads.h"

#include "Ids.h"

Uploads::Uploads(Store& store, Timings timings)
    : m_store(store)
    , m_timings(timings)
{
}

std::string Uploads::issueClientToken(const std::string& accountId, const std::string& pathname)
{
    const std::string token = "vercel_blob_client_" + Ids::hex(20);
    const std::int64_t expires = m_store.nowMs() + std::int64_t(m_timings.clientTokenSeconds) * 1000;
    m_store.locked([&](Database& db) {
        db.prepare("INSERT INTO client_tokens (token, account_id, pathname, expires_ms) VALUES (?, ?, ?, ?)")
            .bind(1, token)
            .bind(2, accountId)
            .bind(3, pathname)
            .bind(4, expires)
            .run();
    });
    return token;
}

Uploads::Grant Uploads::checkClientToken(const std::string& token, const std::string& pathname)
{
    const std::int64_t now = m_store.nowMs();
    return m_store.locked([&](Database& db) -> Grant {
        auto row = db.prepare("SELECT account_id, pathname, expires_ms FROM client_tokens WHERE token = ?");
        if (!row.bind(1, token).step())
            return { Check::Unknown, {} };
        if (row.integer(2) <= now)
            return { Check::Expired, {} };
        if (row.text(1) != pathname)
            return { Check::OtherPathname, {} };
        return { Check::Valid, row.text(0) };
    });
}

void Uploads::recordBlob(
    const std::string& pathname, const std::string& accountId, std::uint64_t size, const std::string& contentType)
{
    m_store.locked([&](Database& db) {
        db.prepare("INSERT OR REPLACE INTO blobs (pathname, account_id, size, content_type) VALUES (?, ?, ?, ?)")
            .bind(1, pathname)
            .bind(2, accountId)
            .bind(3, std::int64_t(size))
            .bind(4, contentType)
            .run();
    });
}

std::optional<Uploads::Blob> Uploads::blob(const std::string& pathname)
{
    return m_store.locked([&](Database& db) -> std::optional<Blob> {
        auto row = db.prepare("SELECT account_id, size, content_type FROM blobs WHERE pathname = ?");
        if (!row.bind(1, pathname).step())
            return std::nullopt;
        return Blob { row.text(0), std::uint64_t(row.integer(1)), row.text(2) };
    });
}
