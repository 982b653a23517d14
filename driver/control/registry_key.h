// Registry keys as the settings persistence uses them: the device's driver key, subkeys created
// one level at a time, and 32-bit values. Every call needs PASSIVE_LEVEL.
#pragma once

#include "driver/wdk.h"

namespace zyn {

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() { Close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // The driver (software) key of the physical device object.
    NTSTATUS OpenDriverKey(PDEVICE_OBJECT physicalDevice);
    // Creates or opens `path` below `parent`. Each leading component of a path with
    // backslashes is created in turn and closed again; the full path is opened last.
    NTSTATUS CreateSubkey(const RegistryKey& parent, PCWSTR path);
    VOID Close();

    HANDLE Handle() const { return handle_; }
    BOOLEAN IsOpen() const { return handle_ != nullptr; }

    // A REG_DWORD of exactly 4 bytes; FALSE (and `value` untouched) for a missing value, one of
    // another type or size, or a failed query.
    BOOLEAN QueryDword(PCWSTR name, PLONG value) const;
    NTSTATUS SetDword(PCWSTR name, LONG value) const;

private:
    HANDLE handle_ = nullptr;
};

} // namespace zyn
