#include "Accounts.h"

#include "Ids.h"

#include <QString>

#include <algorithm>
#include <cctype>

using namespace Qt::StringLiterals;

QJsonObject Account::toJson() const
{
    return {
        { u"id"_s, QString::fromStdString(id) },
        { u"name"_s, QString::fromStdString(name) },
        { u"email"_s, QString::fromStdString(email) },
        { u"freeCredits"_s, qint64(freeCredits) },
        { u"paidCredits"_s, qint64(paidCredits) },
        { u"topUpCredits"_s, qint64(topUpCredits) },
        { u"currentStreak"_s, qint64(currentStreak) },
        { u"longestStreak"_s, qint64(longestStreak) },
        { u"isFounder"_s, isFounder },
    };
}

Accounts::Accounts(Store& store, Timings timings)
    : m_store(store)
    , m_timings(timings)
{
}

std::optional<std::string> Accounts::normalizedEmail(const std::string& raw)
{
    const auto first = raw.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::nullopt;
    std::string email = raw.substr(first, raw.find_last_not_of(" \t\r\n") - first + 1);
    std::transform(email.begin(), email.end(), email.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    const auto at = email.find('@');
    if (email.size() > 254 || at == 0 || at == std::string::npos || at + 1 == email.size()
        || email.find('@', at + 1) != std::string::npos)
        return std::nullopt;
    const bool plain = std::all_of(email.begin(), email.end(), [](unsigned char c) {
        return c > ' ' && c != 0x7f && c != '<' && c != '>' && c != '"' && c != '/' && c != '\\';
    });
    return plain ? std::optional(email) : std::nullopt;
}

std::optional<std::string> Accounts::normalizedEmail(const QJsonValue& value)
{
    return value.isString() ? normalizedEmail(value.toString().toStdString()) : std::nullopt;
}

std::string Accounts::nameFromEmail(const std::string& email)
{
    std::string name;
    bool wordStart = true;
    for (const char c : email.substr(0, email.find('@'))) {
        if (c == '.' || c == '_' || c == '-' || c == '+') {
            wordStart = true;
            continue;
        }
        if (wordStart && !name.empty())
            name += ' ';
        name += wordStart ? char(std::toupper(static_cast<unsigned char>(c))) : c;
        wordStart = false;
    }
    return name.empty() ? email : name;
}

std::optional<Account> Accounts::forToken(const std::string& token)
{
    return m_store.locked([&](Database& db) -> std::optional<Account> {
        auto session = db.prepare("SELECT account_id FROM sessions WHERE token = ?");
        if (!session.bind(1, token).step())
            return std::nullopt;
        return readAccount(db, "id", session.text(0));
    });
}

std::optional<Account> Accounts::byEmail(const std::string& email)
{
    return m_store.locked([&](Database& db) { return readAccount(db, "email", email); });
}

Account Accounts::findOrCreate(const std::string& email)
{
    return m_store.locked([&](Database& db) {
        if (auto existing = readAccount(db, "email", email))
            return *existing;
        return createAccount(db, email);
    });
}

std::string Accounts::openSession(const std::string& accountId)
{
    return m_store.locked([&](Database& db) { return insertSession(db, accountId); });
}

std::optional<std::string> Accounts::requestCode(const std::string& email)
{
    const std::string code = Ids::digits(6);
    const std::int64_t now = m_store.nowMs();
    const std::int64_t windowStart = now - std::int64_t(m_timings.codeRequestWindowSeconds) * 1000;
    return m_store.locked([&](Database& db) -> std::optional<std::string> {
        Transaction tx(db);
        db.prepare("DELETE FROM code_requests WHERE at_ms <= ?").bind(1, windowStart).run();
        // Each code has its tries; bounding the codes bounds the guesses.
        auto recent = db.prepare("SELECT COUNT(*) FROM code_requests WHERE email = ?");
        if (recent.bind(1, email).step() && recent.integer(0) >= m_timings.codeRequests)
            return std::nullopt;
        db.prepare("INSERT INTO code_requests (email, at_ms) VALUES (?, ?)").bind(1, email).bind(2, now).run();
        db.prepare("INSERT OR REPLACE INTO codes (email, code, expires_ms, tries_left, used) VALUES (?, ?, ?, ?, 0)")
            .bind(1, email)
            .bind(2, code)
            .bind(3, now + std::int64_t(m_timings.codeValiditySeconds) * 1000)
            .bind(4, m_timings.codeTries)
            .run();
        tx.commit();
        return code;
    });
}

std::optional<std::string> Accounts::verifyCode(const std::string& email, const std::string& code)
{
    const std::int64_t now = m_store.nowMs();
    return m_store.locked([&](Database& db) -> std::optional<std::string> {
        auto current = db.prepare("SELECT code, expires_ms, tries_left, used FROM codes WHERE email = ?");
        if (!current.bind(1, email).step())
            return std::nullopt;
        const bool usable = current.integer(1) > now && current.integer(2) > 0 && current.integer(3) == 0;
        if (!usable)
            return std::nullopt;
        if (current.text(0) != code) {
            db.prepare("UPDATE codes SET tries_left = tries_left - 1 WHERE email = ?").bind(1, email).run();
            return std::nullopt;
        }
        Transaction tx(db);
        db.prepare("UPDATE codes SET used = 1 WHERE email = ?").bind(1, email).run();
        auto account = readAccount(db, "email", email);
        if (!account)
            account = createAccount(db, email);
        const std::string token = insertSession(db, account->id);
        tx.commit();
        return token;
    });
}

std::optional<std::string> Accounts::lastCode(const std::string& email)
{
    return m_store.locked([&](Database& db) -> std::optional<std::string> {
        auto row = db.prepare("SELECT code FROM codes WHERE email = ?");
        if (!row.bind(1, email).step())
            return std::nullopt;
        return row.text(0);
    });
}

std::optional<Account> Accounts::readAccount(Database& db, const std::string& where, const std::string& value)
{
    auto row = db.prepare("SELECT id, email, name, free_credits, paid_credits, top_up_credits, current_streak, "
                          "longest_streak, is_founder FROM accounts WHERE "
        + where + " = ?");
    if (!row.bind(1, value).step())
        return std::nullopt;
    return Account { row.text(0), row.text(1), row.text(2), row.integer(3), row.integer(4), row.integer(5),
        row.integer(6), row.integer(7), row.integer(8) != 0 };
}

std::string Accounts::insertSession(Database& db, const std::string& accountId)
{
    const std::string token = "eqt_" + Ids::hex(24);
    db.prepare("INSERT INTO sessions (token, account_id) VALUES (?, ?)").bind(1, token).bind(2, accountId).run();
    return token;
}

Account Accounts::createAccount(Database& db, const std::string& email)
{
    Account account;
    account.id = "usr_" + Ids::hex(8);
    account.email = email;
    account.name = nameFromEmail(email);
    account.freeCredits = 3;
    db.prepare("INSERT INTO accounts (id, email, name, free_credits) VALUES (?, ?, ?, ?)")
        .bind(1, account.id)
        .bind(2, account.email)
        .bind(3, account.name)
        .bind(4, account.freeCredits)
        .run();
    return account;
}
