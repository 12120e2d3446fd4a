#pragma once

#include "Store.h"

#include <QJsonObject>

#include <optional>
#include <string>

// One account as the client's user record describes it.
struct Account {
    std::string id;
    std::string email;
    std::string name;
    std::int64_t freeCredits = 0;
    std::int64_t paidCredits = 0;
    std::int64_t topUpCredits = 0;
    std::int64_t currentStreak = 0;
    std::int64_t longestStreak = 0;
    bool isFounder = false;

    [[nodiscard]] QJsonObject toJson() const;
};

// Accounts, their bearer tokens and the one-time codes that sign them in.
class Accounts {
public:
    struct Timings {
        int codeValiditySeconds = 600;
        int codeTries = 5;
        int codeRequests = 5;
        int codeRequestWindowSeconds = 600;
    };

    Accounts(Store& store, Timings timings);

    // The address trimmed and lower-cased, or nothing when it is not an e-mail address.
    static std::optional<std::string> normalizedEmail(const std::string& raw);
    // The same for a JSON member; anything but a string is no address.
    static std::optional<std::string> normalizedEmail(const QJsonValue& value);
    // "jane.doe@example.com" → "Jane Doe".
    static std::string nameFromEmail(const std::string& email);

    std::optional<Account> forToken(const std::string& token);
    std::optional<Account> byEmail(const std::string& email);
    // A new address makes a new account.
    Account findOrCreate(const std::string& email);
    // A new bearer token for the account; tokens do not expire.
    std::string openSession(const std::string& accountId);

    // A fresh six-digit code for the address, replacing any earlier one;
    // nothing once the address has asked for codeRequests codes within the window.
    std::optional<std::string> requestCode(const std::string& email);
    // A bearer token when the code is the address's current, unexpired, unused one;
    // a wrong code uses up one try, and the code is void once the tries are gone.
    std::optional<std::string> verifyCode(const std::string& email, const std::string& code);
    // The last code made for the address, whatever its state.
    std::optional<std::string> lastCode(const std::string& email);

private:
    std::optional<Account> readAccount(Database& db, const std::string& where, const std::string& value);
    Account createAccount(Database& db, const std::string& email);
    static std::string insertSession(Database& db, const std::string& accountId);

    Store& m_store;
    Timings m_timings;
};
