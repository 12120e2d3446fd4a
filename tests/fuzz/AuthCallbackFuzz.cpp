// Arbitrary text as the address the sign-in page calls back with. The parser
// returns a token or throws EQAPIError::invalidCallback, nothing else, and no
// token value of the address reaches what it logs.
#include "AuthCallback.h"
#include "EQAPIError.h"
#include "Log.h"

#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The values of the items whose name holds "token", in the query and the
// fragment, as the address writes them.
QStringList tokenValues(const QUrl &url)
{
    QStringList values;
    for (const QString &items : {url.query(QUrl::FullyEncoded), url.fragment(QUrl::FullyEncoded)})
        for (const QString &item : items.split(u'&')) {
            const qsizetype eq = item.indexOf(u'=');
            if (eq > 0 && QUrl::fromPercentEncoding(item.left(eq).toUtf8()).contains(u"token", Qt::CaseInsensitive))
                values << item.mid(eq + 1);
        }
    return values;
}

void tokenOf(const QUrl &url)
{
    Log::Capture log;
    try {
        (void)AuthCallback::token(url, QStringLiteral("state"));
    } catch (const EQAPIError &e) {
        if (!e.is(EQAPIError::InvalidCallback)) {
            std::fprintf(stderr, "unexpected error: %s\n", e.what());
            std::abort();
        }
    }
    // A value written once in the address can only reach the log from its item; a
    // short one may also be part of the fixed text of a line.
    const QString address = url.toString(QUrl::FullyEncoded);
    for (const QString &value : tokenValues(url)) {
        if (value.size() < 4 || address.count(value) != 1)
            continue;
        for (QString line : log.lines()) {
            line.remove(QStringLiteral("[AuthService] Callback URL received: "));
            line.remove(QStringLiteral("[AuthService] Failed to extract token from callback URL: "));
            if (line.contains(value)) {
                std::fprintf(stderr, "token value %s logged: %s\n", qPrintable(value), qPrintable(line));
                std::abort();
            }
        }
    }
}

}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Every call logs two lines; the fuzzer's own report goes to stderr.
    if (!std::freopen("/dev/null", "w", stdout))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    tokenOf(QUrl(QString::fromUtf8(bytes)));
    tokenOf(QUrl::fromEncoded(bytes));
    return 0;
}
