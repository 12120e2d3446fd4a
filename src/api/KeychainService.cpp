// libsecret first: its headers use "signals" as a name, which Qt defines as a macro.
#include <libsecret/secret.h>

#include "KeychainService.h"

#include "Log.h"

#include <QStringDecoder>

namespace {

constexpr const char* serviceValue = "com.echoquill.desktop";
constexpr const char* accountValue = "auth-token";

// Matched by the two attributes alone (not by schema name), like
// `secret-tool lookup service com.echoquill.desktop account auth-token`.
const SecretSchema* schema()
{
    static const SecretSchema s = [] {
        SecretSchema built {};
        built.name = "com.echoquill.desktop.AuthToken";
        built.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        built.attributes[0] = { "service", SECRET_SCHEMA_ATTRIBUTE_STRING };
        built.attributes[1] = { "account", SECRET_SCHEMA_ATTRIBUTE_STRING };
        return built;
    }();
    return &s;
}

}

KeychainError::KeychainError(Kind kind, int status)
    : m_kind(kind)
    , m_status(status)
    , m_what(description().toUtf8())
{
}

QString KeychainError::description() const
{
    return QStringLiteral("Keychain save failed (OSStatus %1)").arg(m_status);
}

namespace KeychainService {

void saveToken(const QString& token)
{
    const QByteArray bytes = token.toUtf8();
    deleteToken();

    GError* error = nullptr;
    SecretValue* value = secret_value_new(bytes.constData(), bytes.size(), "text/plain");
    const gboolean stored = secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT,
        "Echoquill sign-in token", value, nullptr, &error, "service", serviceValue, "account", accountValue, nullptr);
    secret_value_unref(value);
    if (!stored || error) {
        const int status = error ? error->code : -1;
        g_clear_error(&error);
        Log::line(QStringLiteral("[KeychainService] saveToken failed — OSStatus: %1").arg(status));
        throw KeychainError::saveFailed(status);
    }
    Log::line(QStringLiteral("[KeychainService] saveToken succeeded"));
}

std::optional<QString> loadToken()
{
    GError* error = nullptr;
    SecretValue* value = secret_password_lookup_binary_sync(
        schema(), nullptr, &error, "service", serviceValue, "account", accountValue, nullptr);
    g_clear_error(&error);
    if (!value)
        return std::nullopt;

    gsize length = 0;
    const gchar* data = secret_value_get(value, &length);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString token = decoder(QByteArrayView(data, qsizetype(length)));
    secret_value_unref(value);
    if (decoder.hasError())
        return std::nullopt;
    return token;
}

void deleteToken()
{
    GError* error = nullptr;
    secret_password_clear_sync(schema(), nullptr, &error, "service", serviceValue, "account", accountValue, nullptr);
    g_clear_error(&error);
}

}
