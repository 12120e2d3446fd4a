// Arbitrary text as the address the sign-in page calls back with. The parser
// returns a token or throws EQAPIError::invalidCallback, nothing else, and no
// token value of the address reaches what it logs.
#include "AuthCallback.h"
#include "EQAPIError.h"
#include "Log.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void tokenOf(const QUrl& url)
{
    Log::Capture log;
    try {
        (void)AuthCallback::token(url, QStringLiteral("state"));
    } catch (const EQAPIError& e) {
        if (!e.is(EQAPIError::InvalidCallback)) {
            std::fprintf(stderr, "unexpected error: %s\n", e.what());
            std::abort();
        }
    }
    // The logged addresses, token values left out. A value of an item named with "token" that the address holds
    // once can only show there by a leak; a very short one may also form where a value was cut out.
    QString logged;
    for (const QString& line : log.lines())
        for (const QString& prefix : { QStringLiteral("[AuthService] Callback URL received: "),
                 QStringLiteral("[AuthService] Failed to extract token from callback URL: ") })
            if (line.startsWith(prefix))
                logged += line.mid(prefix.size()).remove(QStringLiteral("<redacted>")) + u'\n';
    const QString address = url.toString(QUrl::FullyEncoded);
    for (const QString& items : { url.query(QUrl::FullyEncoded), url.fragment(QUrl::FullyEncoded) })
        for (const QString& item : items.split(u'&')) {
            const QString name = QUrl::fromPercentEncoding(item.section(u'=', 0, 0).toUtf8()),
                          value = item.section(u'=', 1);
            if (name.contains(u"token", Qt::CaseInsensitive) && value.size() >= 4 && address.count(value) == 1
                && logged.contains(value)) {
                std::fprintf(stderr, "token value %s logged: %s\n", qPrintable(value), qPrintable(logged));
                std::abort();
            }
        }
}

}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Every call logs two lines; the fuzzer's own report goes to stderr.
    if (!std::freopen("/dev/null", "w", stdout))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    tokenOf(QUrl(QString::fromUtf8(bytes)));
    tokenOf(QUrl::fromEncoded(bytes));
    return 0;
}
