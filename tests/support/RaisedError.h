#pragma once

#include "EQAPIError.h"

#include <gtest/gtest.h>

// The EQAPIError that `call` raises; a test failure when it raises none.
template <class F> EQAPIError apiError(F&& call)
{
    try {
        call();
    } catch (const EQAPIError& e) {
        return e;
    }
    ADD_FAILURE() << "no EQAPIError was raised";
    return EQAPIError::invalidCallback();
}
