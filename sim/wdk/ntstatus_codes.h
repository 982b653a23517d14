// NTSTATUS values with the platform's numbers. One table feeds both the constants and the
// names that tools print.
#pragma once

#include "sim/wdk/wdk_types.h"

#define ZYN_SIM_STATUS_LIST(X)                                                                     \
    X(STATUS_SUCCESS, 0x00000000)                                                                  \
    X(STATUS_WAIT_0, 0x00000000)                                                                   \
    X(STATUS_WAIT_1, 0x00000001)                                                                   \
    X(STATUS_USER_APC, 0x000000C0)                                                                 \
    X(STATUS_ALERTED, 0x00000101)                                                                  \
    X(STATUS_TIMEOUT, 0x00000102)                                                                  \
    X(STATUS_PENDING, 0x00000103)                                                                  \
    X(STATUS_REPARSE, 0x00000104)                                                                  \
    X(STATUS_MORE_ENTRIES, 0x00000105)                                                             \
    X(STATUS_BUFFER_OVERFLOW, 0x80000005)                                                          \
    X(STATUS_NO_MORE_ENTRIES, 0x8000001A)                                                          \
    X(STATUS_UNSUCCESSFUL, 0xC0000001)                                                             \
    X(STATUS_NOT_IMPLEMENTED, 0xC0000002)                                                          \
    X(STATUS_INVALID_HANDLE, 0xC0000008)                                                           \
    X(STATUS_INVALID_PARAMETER, 0xC000000D)                                                        \
    X(STATUS_NO_SUCH_DEVICE, 0xC000000E)                                                           \
    X(STATUS_INVALID_DEVICE_REQUEST, 0xC0000010)                                                   \
    X(STATUS_MORE_PROCESSING_REQUIRED, 0xC0000016)                                                 \
    X(STATUS_NO_MEMORY, 0xC0000017)                                                                \
    X(STATUS_ACCESS_DENIED, 0xC0000022)                                                            \
    X(STATUS_BUFFER_TOO_SMALL, 0xC0000023)                                                         \
    X(STATUS_OBJECT_TYPE_MISMATCH, 0xC0000024)                                                     \
    X(STATUS_OBJECT_NAME_INVALID, 0xC0000033)                                                      \
    X(STATUS_OBJECT_NAME_NOT_FOUND, 0xC0000034)                                                    \
    X(STATUS_OBJECT_NAME_COLLISION, 0xC0000035)                                                    \
    X(STATUS_OBJECT_PATH_NOT_FOUND, 0xC000003A)                                                    \
    X(STATUS_OBJECT_PATH_SYNTAX_BAD, 0xC000003B)                                                   \
    X(STATUS_SHARING_VIOLATION, 0xC0000043)                                                        \
    X(STATUS_DEVICE_NOT_READY, 0xC00000A3)                                                         \
    X(STATUS_INSUFFICIENT_RESOURCES, 0xC000009A)                                                   \
    X(STATUS_DEVICE_DATA_ERROR, 0xC000009C)                                                        \
    X(STATUS_DEVICE_NOT_CONNECTED, 0xC000009D)                                                     \
    X(STATUS_IO_TIMEOUT, 0xC00000B5)                                                               \
    X(STATUS_NOT_SUPPORTED, 0xC00000BB)                                                            \
    X(STATUS_INTERNAL_ERROR, 0xC00000E5)                                                           \
    X(STATUS_CANCELLED, 0xC0000120)                                                                \
    X(STATUS_ILLEGAL_FLOAT_CONTEXT, 0xC000014A)                                                    \
    X(STATUS_KEY_DELETED, 0xC000017C)                                                              \
    X(STATUS_INVALID_DEVICE_STATE, 0xC0000184)                                                     \
    X(STATUS_INVALID_BUFFER_SIZE, 0xC0000206)                                                      \
    X(STATUS_NOT_FOUND, 0xC0000225)                                                                \
    X(STATUS_PROPSET_NOT_FOUND, 0xC0000230)                                                        \
    X(STATUS_NO_MATCH, 0xC0000272)                                                                 \
    X(STATUS_DEVICE_REMOVED, 0xC00002B6)

#define ZYN_SIM_STATUS_CONSTANT(name, value) constexpr NTSTATUS name = (NTSTATUS)(value##u);
ZYN_SIM_STATUS_LIST(ZYN_SIM_STATUS_CONSTANT)
#undef ZYN_SIM_STATUS_CONSTANT

#define NT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)
#define NT_INFORMATION(status) ((((ULONG)(status)) >> 30) == 1)
#define NT_WARNING(status) ((((ULONG)(status)) >> 30) == 2)
#define NT_ERROR(status) ((((ULONG)(status)) >> 30) == 3)

namespace sim {
// The status's symbolic name ("STATUS_TIMEOUT"), or its value in hexadecimal when unknown.
// The returned text stays valid until the next call on the same thread.
const char* StatusName(NTSTATUS status);
} // namespace sim
