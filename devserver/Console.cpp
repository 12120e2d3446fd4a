#include "Console.h"

#include <cstdio>
#include <mutex>

namespace Console {

void line(const std::string& text)
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fputs("[devserver] ", stdout);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}
