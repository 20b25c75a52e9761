#pragma once
// The code of the CError an action throws, or 0 when it throws none.

#include <cstdint>
#include <functional>

#include "foundation/errors.h"

inline int32_t ErrorCodeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const CError& error) {
        return error.code;
    }
    return 0;
}
