#include "driver/control/registry_key.h"

namespace zyn {

namespace {

// What the driver key is opened for: the settings live in a subkey of it.
constexpr ACCESS_MASK kDriverKeyAccess = READ_CONTROL;
constexpr ULONG kKeyAttributes = OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE;

NTSTATUS CreateKey(HANDLE root, PUNICODE_STRING name, PHANDLE key) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, name, kKeyAttributes, root, nullptr);
    return ZwCreateKey(key, KEY_ALL_ACCESS, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE,
                       nullptr);
}

ULONG WideLength(PCWSTR text) {
    ULONG length = 0;
    while (text[length] != L'\0') {
        ++length;
    }
    return length;
}

// The first `length` characters of `path` (at most 0x7FFF), not terminated.
UNICODE_STRING Leading(PCWSTR path, ULONG length) {
    UNICODE_STRING leading;
    leading.Buffer = const_cast<PWSTR>(path);
    leading.Length = static_cast<USHORT>(length * sizeof(WCHAR));
    leading.MaximumLength = leading.Length;
    return leading;
}

} // namespace

NTSTATUS RegistryKey::OpenDriverKey(PDEVICE_OBJECT physicalDevice) {
    Close();
    if (physicalDevice == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    HANDLE key = nullptr;
    const NTSTATUS status =
        IoOpenDeviceRegistryKey(physicalDevice, PLUGPLAY_REGKEY_DRIVER, kDriverKeyAccess, &key);
    if (NT_SUCCESS(status) && key == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    if (NT_SUCCESS(status)) {
        handle_ = key;
    }
    return status;
}

NTSTATUS RegistryKey::CreateSubkey(const RegistryKey& parent, PCWSTR path) {
    Close();
    const ULONG length = WideLength(path);
    if (length == 0 || length > 0x7FFF) {
        return STATUS_INVALID_PARAMETER;
    }
    // Each leading component: the path up to (not including) each backslash.
    for (ULONG end = 0; end < length; ++end) {
        if (path[end] != L'\\' || end == 0) {
            continue;
        }
        UNICODE_STRING leading = Leading(path, end);
        HANDLE key = nullptr;
        const NTSTATUS status = CreateKey(parent.handle_, &leading, &key);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        ZwClose(key);
    }
    UNICODE_STRING full = Leading(path, length);
    HANDLE key = nullptr;
    const NTSTATUS status = CreateKey(parent.handle_, &full, &key);
    if (NT_SUCCESS(status)) {
        handle_ = key;
    }
    return status;
}

VOID RegistryKey::Close() {
    if (handle_ != nullptr) {
        ZwClose(handle_);
        handle_ = nullptr;
    }
}

BOOLEAN RegistryKey::QueryDword(PCWSTR name, PLONG value) const {
    // Room for the partial information of a 4-byte value, and a little more: a longer value
    // then reports an overflow instead of fitting.
    union {
        KEY_VALUE_PARTIAL_INFORMATION information;
        UCHAR bytes[20];
    } buffer;
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    ULONG resultLength = 0;
    const NTSTATUS status = ZwQueryValueKey(handle_, &valueName, KeyValuePartialInformation,
                                            &buffer, sizeof(buffer), &resultLength);
    // The type is not checked: earlier versions, or a user, may have stored REG_BINARY.
    if (!NT_SUCCESS(status) || buffer.information.DataLength < sizeof(LONG)) {
        return FALSE;
    }
    RtlCopyMemory(value, buffer.information.Data, sizeof(LONG));
    return TRUE;
}

NTSTATUS RegistryKey::SetDword(PCWSTR name, LONG value) const {
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    return ZwSetValueKey(handle_, &valueName, 0, REG_DWORD, &value, sizeof(value));
}

} // namespace zyn
