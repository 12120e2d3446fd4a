// libsecret first: its headers use "signals" as a name, which Qt defines as a macro.
#include <libsecret/secret.h>

#include "AuthStore.h"
#include "Await.h"
#include "ChildProcess.h"
#include "KeychainService.h"
#include "KeyringTest.h"
#include "Log.h"
#include "QtPrinters.h"
#include "Raised.h"
#include "SessionServer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// The item as any Secret Service client sees it: found by the two attributes.
const SecretSchema* itemSchema()
{
    static SecretSchema* const schema = secret_schema_new("org.example.AnyClient", SECRET_SCHEMA_DONT_MATCH_NAME,
        "service", SECRET_SCHEMA_ATTRIBUTE_STRING, "account", SECRET_SCHEMA_ATTRIBUTE_STRING, nullptr);
    return schema;
}

// The secrets of every matching item, read straight from the store.
QList<QByteArray> storedSecrets()
{
    GError* error = nullptr;
    GList* items = secret_password_search_sync(itemSchema(),
        SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS), nullptr, &error,
        "service", "com.echoquill.desktop", "account", "auth-token", nullptr);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    g_clear_error(&error);
    QList<QByteArray> secrets;
    for (GList* l = items; l; l = l->next) {
        SecretValue* value = secret_retrievable_retrieve_secret_sync(SECRET_RETRIEVABLE(l->data), nullptr, nullptr);
        gsize length = 0;
        const gchar* data = value ? secret_value_get(value, &length) : nullptr;
        secrets.append(QByteArray(data, qsizetype(length)));
        if (value)
            secret_value_unref(value);
    }
    g_list_free_full(items, g_object_unref);
    return secrets;
}

void storeRawSecret(const QByteArray& bytes)
{
    GError* error = nullptr;
    SecretValue* value = secret_value_new(bytes.constData(), bytes.size(), "application/octet-stream");
    secret_password_store_binary_sync(itemSchema(), SECRET_COLLECTION_DEFAULT, "raw", value, nullptr, &error, "service",
        "com.echoquill.desktop", "account", "auth-token", nullptr);
    secret_value_unref(value);
    ASSERT_EQ(error, nullptr) << error->message;
}

using KeychainServiceTest = KeyringTest;

}

TEST_F(KeychainServiceTest, OneItemHoldsTheLastTokenAndAnythingElseLoadsAsAbsent)
{
    Log::Capture log;
    EXPECT_EQ(KeychainService::loadToken(), std::nullopt);
    KeychainService::deleteToken();
    KeychainService::saveToken(u"first-token"_s);
    KeychainService::saveToken(u"sécond-tøken"_s);
    EXPECT_EQ(storedSecrets(), QList<QByteArray> { u"sécond-tøken"_s.toUtf8() }) << "UTF-8 bytes, nothing else";
    EXPECT_EQ(KeychainService::loadToken(), u"sécond-tøken"_s);
    const QString logged = log.lines().join(u'\n');
    EXPECT_FALSE(logged.contains(u"first-token"_s) || logged.contains(u"tøken"_s)) << "no token in the log";

    // Another client's stray item with the same attributes goes too.
    storeRawSecret("stray-1");
    KeychainService::deleteToken();
    EXPECT_TRUE(storedSecrets().isEmpty());
    KeychainService::saveToken(QString());
    EXPECT_EQ(KeychainService::loadToken(), QString()) << "an empty token is stored like any other";

    for (const QByteArray& bytes :
        { QByteArray("\xff\xfe\x00x", 4), QByteArray("ab\xc3"), QByteArray("\xed\xa0\x80") }) {
        SCOPED_TRACE(bytes.toHex().toStdString());
        KeychainService::deleteToken();
        storeRawSecret(bytes);
        EXPECT_EQ(KeychainService::loadToken(), std::nullopt) << "bytes that are not UTF-8";
    }
}

TEST(KeychainWithoutSecretService, LoadIsAbsentAndSaveFailsWithTheStoresCode)
{
    if (ChildProcess::isChild()) {
        const int expected = qEnvironmentVariableIntValue("EXPECTED_STATUS");
        const QString failure = u"Keychain save failed (OSStatus %1)"_s.arg(expected);
        EXPECT_EQ(KeychainService::loadToken(), std::nullopt);
        KeychainService::deleteToken();
        const auto e = raised<KeychainError>([] { KeychainService::saveToken(u"tok"_s); });
        ASSERT_TRUE(e) << "saveToken succeeded without a Secret Service";
        EXPECT_EQ(std::tuple(e->kind(), e->status(), e->description()),
            std::tuple(KeychainError::SaveFailed, expected, failure));
        // A verified code whose token cannot be stored is the sign-in's error, and no user is asked for.
        SessionServer server;
        server.setVerifyReply("482913", { 200, R"({"token":"fresh"})" });
        AuthStore store;
        store.verifyOTP(u"ann@example.com"_s, u"482913"_s);
        ASSERT_TRUE(waitUntil([&] { return !store.isLoading(); }));
        EXPECT_EQ(store.error(), failure);
        EXPECT_FALSE(store.currentUser());
        EXPECT_TRUE(server.userRequestTokens().empty());
        return;
    }

    QTemporaryDir dir;
    // A bus that offers no services at all: no activation of a keyring either.
    const QString config = dir.filePath(u"bare-session.conf"_s);
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>)");
    file.close();

    const std::tuple<const char*, QString, QStringList, int> settings[] = {
        // g-io-error-quark: G_IO_ERROR_NOT_FOUND (the socket is not there)
        { "no session bus", u"unix:path=%1"_s.arg(dir.filePath(u"no-bus"_s)), {}, 1 },
        // g-dbus-error-quark: G_DBUS_ERROR_SERVICE_UNKNOWN
        { "a bus without a Secret Service", {}, { u"dbus-run-session"_s, u"--config-file=%1"_s.arg(config), u"--"_s },
            2 },
    };
    for (const auto& [what, busAddress, wrapper, status] : settings) {
        SCOPED_TRACE(what);
        QProcessEnvironment changes;
        changes.insert(u"EXPECTED_STATUS"_s, QString::number(status));
        if (!busAddress.isEmpty())
            changes.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress);
        const auto run = ChildProcess::rerunCurrentTest(changes, wrapper);
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    }
}
