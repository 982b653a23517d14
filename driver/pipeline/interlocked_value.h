// Reading a 32-bit value that other threads write with interlocked operations.
#pragma once

#include "driver/wdk.h"

namespace zyn {

inline LONG ReadInterlocked(const volatile LONG* value) {
    return InterlockedCompareExchange(const_cast<volatile LONG*>(value), 0, 0);
}

} // namespace zyn
