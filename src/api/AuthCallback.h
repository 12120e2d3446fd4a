#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// Reads the token out of the address the service's sign-in page calls back
// with. Pure and free of the web engine, so it can be fuzzed on its own.
class AuthCallback {
public:
    // The first query item named exactly "token", an empty value included;
    // anything else, or a first "state" item other than `state`, throws
    // EQAPIError::invalidCallback. The hosted service may leave "state" out.
    // Logs the address with every token value left out.
    static QString token(const std::optional<QUrl>& callbackUrl, const QString& state);
};
