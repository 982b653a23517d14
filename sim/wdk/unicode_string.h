// Counted wide strings.
#pragma once

#include <cwchar>

#include "sim/wdk/wdk_types.h"

inline VOID RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
    const size_t length = source != nullptr ? std::wcslen(source) * sizeof(WCHAR) : 0;
    destination->Length = static_cast<USHORT>(length);
    destination->MaximumLength =
        source != nullptr ? static_cast<USHORT>(length + sizeof(WCHAR)) : 0;
    destination->Buffer = const_cast<PWSTR>(source);
}

#define RTL_CONSTANT_STRING(s)                                                                     \
    {                                                                                              \
        static_cast<USHORT>(sizeof(s) - sizeof((s)[0])), static_cast<USHORT>(sizeof(s)),           \
            const_cast<PWSTR>(s)                                                                   \
    }
