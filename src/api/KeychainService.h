#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <optional>

// The one failure of token storage, with the text the sign-in screen shows.
class KeychainError : public std::exception {
public:
    enum Kind { SaveFailed };

    // `status` is the credential store's error code (a GError code here).
    static KeychainError saveFailed(int status) { return KeychainError(SaveFailed, status); }

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] int status() const { return m_status; }
    [[nodiscard]] QString description() const;
    const char* what() const noexcept override { return m_what.constData(); }

private:
    KeychainError(Kind kind, int status);

    Kind m_kind;
    int m_status;
    QByteArray m_what;
};

// Keeps the signed-in user's bearer token in the desktop's Secret Service:
// one item, found by its "service" and "account" attributes. No state of its
// own and no copy anywhere else; every call goes to the store.
namespace KeychainService {

// Replaces the stored token (delete, then add); throws KeychainError.
void saveToken(const QString& token);
// Absent when there is no item, the store is unreachable or locked, or the
// stored bytes are not UTF-8.
std::optional<QString> loadToken();
// Removes the item; failures are ignored.
void deleteToken();

}
