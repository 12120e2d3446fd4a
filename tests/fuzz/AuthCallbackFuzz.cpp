// Arbitrary text as the address the sign-in page calls back with. The parser
// returns a token or throws EQAPIError::invalidCallback, nothing else.
#include "AuthCallback.h"
#include "EQAPIError.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void tokenOf(const QUrl &url)
{
    try {
        (void)AuthCallback::token(url);
    } catch (const EQAPIError &e) {
        if (!e.is(EQAPIError::InvalidCallback)) {
            std::fprintf(stderr, "unexpected error: %s\n", e.what());
            std::abort();
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
