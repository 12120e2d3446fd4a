#pragma once

#include <optional>

// The `E` that `call` raises; nothing when it returns. Errors of other types pass through.
template <class E, class F> std::optional<E> raised(F&& call)
{
    try {
        call();
    } catch (const E& error) {
        return error;
    }
    return std::nullopt;
}
