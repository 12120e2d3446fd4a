#pragma once

#include <QString>

#include <functional>
#include <optional>

// Where a store reads the bearer token just before each request; absent means
// the request is made without one (or skipped, as the store decides).
using TokenProvider = std::function<std::optional<QString>()>;
