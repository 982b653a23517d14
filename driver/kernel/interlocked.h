// Reading a value that other threads change with interlocked operations: a full barrier and an
// untorn read.
#pragma once

#include "driver/wdk.h"

namespace zyn {

inline LONG ReadInterlocked(const volatile LONG* value) {
    return InterlockedCompareExchange(const_cast<volatile LONG*>(value), 0, 0);
}

// The 32-bit kernel images have no 64-bit interlocked operations.
#if defined(ZYN_SIMULATED) || defined(_WIN64)
inline LONG64 ReadInterlocked(const volatile LONG64* value) {
    return InterlockedCompareExchange64(const_cast<volatile LONG64*>(value), 0, 0);
}
#endif

} // namespace zyn
