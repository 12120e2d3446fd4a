#pragma once

#include <string>

// Random identifiers for tokens, codes and accounts.
namespace Ids {

// `bytes` random bytes written as lower-case hexadecimal.
std::string hex(int bytes);
// `count` random decimal digits, leading zeros included.
std::string digits(int count);

}
