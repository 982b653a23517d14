// The registry as the drivers reach it: device keys, keys and values by handle. Every call needs
// PASSIVE_LEVEL. Values of any type and size can be stored, so a test can plant a wrong one.
// The store can be backed by a human-readable file that is rewritten atomically (a temporary
// file, then a rename) when a changed key's last handle closes, so an emulated device keeps its
// settings between runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/wdk/device_object.h"
#include "sim/wdk/objects.h"

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ                                                                                   \
    ((STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) & ~SYNCHRONIZE)
#define KEY_WRITE ((STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & ~SYNCHRONIZE)
#define KEY_ALL_ACCESS 0x000F003F

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

#define PLUGPLAY_REGKEY_DEVICE 1
#define PLUGPLAY_REGKEY_DRIVER 2
#define PLUGPLAY_REGKEY_CURRENT_HWPROFILE 4

typedef enum _KEY_VALUE_INFORMATION_CLASS {
    KeyValueBasicInformation,
    KeyValueFullInformation,
    KeyValuePartialInformation,
} KEY_VALUE_INFORMATION_CLASS;

typedef struct _KEY_VALUE_PARTIAL_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataLength;
    UCHAR Data[1];
} KEY_VALUE_PARTIAL_INFORMATION, *PKEY_VALUE_PARTIAL_INFORMATION;
static_assert(sizeof(KEY_VALUE_PARTIAL_INFORMATION) == 16, "KEY_VALUE_PARTIAL_INFORMATION");
static_assert(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) == 12, "KEY_VALUE_PARTIAL_INFORMATION");

// Opens (creating it if needed) the driver or device key of a physical device object.
NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT deviceObject, ULONG devInstKeyType,
                                 ACCESS_MASK desiredAccess, PHANDLE deviceRegKey,
                                 const char* file = __builtin_FILE(), int line = __builtin_LINE());
// Creates or opens the last component of the path; every earlier one must exist.
NTSTATUS ZwCreateKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                     POBJECT_ATTRIBUTES objectAttributes, ULONG titleIndex,
                     PUNICODE_STRING keyClass, ULONG createOptions, PULONG disposition,
                     const char* file = __builtin_FILE(), int line = __builtin_LINE());
NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                   POBJECT_ATTRIBUTES objectAttributes, const char* file = __builtin_FILE(),
                   int line = __builtin_LINE());
// Partial information only. A buffer smaller than the fixed part: STATUS_BUFFER_TOO_SMALL; one
// that holds the fixed part but not all data: the fixed part and as much data as fits, with
// STATUS_BUFFER_OVERFLOW. *resultLength is always the size the whole answer needs.
NTSTATUS ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                         KEY_VALUE_INFORMATION_CLASS keyValueInformationClass,
                         PVOID keyValueInformation, ULONG length, PULONG resultLength);
NTSTATUS ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, ULONG titleIndex, ULONG type,
                       PVOID data, ULONG dataSize);

// Test interface. Paths are absolute ("\Registry\Machine\..."), compared without case.
namespace sim::registry {

struct Value {
    ULONG type = REG_NONE;
    std::vector<uint8_t> data;
};

// The driver key path of a physical device object; devices not bound get one of their own.
void BindDriverKey(PDEVICE_OBJECT physicalDevice, const std::string& path);
std::string DriverKeyPath(PDEVICE_OBJECT physicalDevice);
void UnbindDevice(PDEVICE_OBJECT physicalDevice);

// Creates the key and every key above it.
void CreateKey(const std::string& path);
bool KeyExists(const std::string& path);
void DeleteKey(const std::string& path);
void SetValue(const std::string& keyPath, const std::string& name, ULONG type,
              std::vector<uint8_t> data);
void SetDword(const std::string& keyPath, const std::string& name, uint32_t value);
std::optional<Value> GetValue(const std::string& keyPath, const std::string& name);
std::optional<uint32_t> GetDword(const std::string& keyPath, const std::string& name);
std::vector<std::string> ValueNames(const std::string& keyPath);
// Empties the store (device bindings stay).
void Clear();

// Backs the store with a file: loads it now (a missing file is an empty store) and writes every
// change back. False, with the reason, when the file cannot be read or parsed.
bool UseFile(const std::string& path, std::string* error = nullptr);
void StopUsingFile();
// Writes the store to its file now; false when that fails.
bool Flush(std::string* error = nullptr);
// The file format, for tools and tests.
std::string Serialize();
bool Parse(const std::string& text, std::string* error);

} // namespace sim::registry
