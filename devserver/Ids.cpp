#include "Ids.h"

#include <QRandomGenerator>

namespace Ids {

std::string hex(int bytes)
{
    static constexpr char alphabet[] = "0123456789abcdef";
    std::string text;
    text.reserve(size_t(bytes) * 2);
    for (int i = 0; i < bytes; ++i) {
        const auto byte = QRandomGenerator::system()->bounded(256);
        text += alphabet[byte >> 4];
        text += alphabet[byte & 15];
    }
    return text;
}

std::string digits(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += char('0' + QRandomGenerator::system()->bounded(10));
    return text;
}

}
