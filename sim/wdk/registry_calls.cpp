// The registry calls of the drivers: key objects behind handles, paths from object
// attributes, values in the platform's information layout. Each needs PASSIVE_LEVEL.
#include <cstring>

#include "sim/wdk/irql.h"
#include "sim/wdk/locked.h"
#include "sim/wdk/object_manager.h"
#include "sim/wdk/registry_tree.h"
#include "sim/wdk/verifier.h"

namespace sim::registry {
namespace {

std::string Canonical(const std::vector<std::string>& parts, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        path += "\\" + parts[i];
    }
    return path;
}

std::string Narrow(PCUNICODE_STRING text) {
    std::string narrow;
    if (text == nullptr || text->Buffer == nullptr) {
        return narrow;
    }
    for (USHORT i = 0; i < text->Length / sizeof(WCHAR); ++i) {
        const WCHAR c = text->Buffer[i];
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return narrow;
}

// A registry key object: the path it names.
struct KeyObject {
    sim::objects::Object object;
    std::string path;
};

// The last handle of a key closing is when a change reaches the backing file.
void DestroyKey(sim::objects::Object* object) {
    delete reinterpret_cast<KeyObject*>(object);
    WriteBack();
}

HANDLE OpenHandle(const std::string& path, const char* file, int line) {
    auto* key = new KeyObject;
    key->path = path;
    sim::objects::Register(&key->object, sim::objects::Kind::Key, "registry key " + path,
                           &DestroyKey, file, line);
    HANDLE handle = sim::objects::CreateHandle(&key->object, file, line);
    sim::objects::Dereference(&key->object);
    return handle;
}

// The path behind a key handle, or a status.
NTSTATUS KeyPath(HANDLE handle, const char* call, std::string* path) {
    NTSTATUS status;
    const auto kind = sim::objects::Kind::Key;
    sim::objects::Object* object = sim::objects::ReferenceHandle(handle, &kind, &status, call);
    if (object == nullptr) {
        return status;
    }
    *path = reinterpret_cast<KeyObject*>(object)->path;
    sim::objects::Dereference(object);
    return STATUS_SUCCESS;
}

// Runs `use` on the key at `path` with the store locked; STATUS_KEY_DELETED where the key is
// gone (deleted while a handle to it stays open).
template <typename Use> NTSTATUS WithKey(const std::string& path, Use&& use) {
    Locked store(TheStore());
    Node* key = FindPath(*store, path);
    if (key == nullptr) {
        return STATUS_KEY_DELETED;
    }
    return use(*store, *key);
}

// Checks the IRQL and resolves object attributes to path components; the last one may not
// exist yet.
NTSTATUS Resolve(POBJECT_ATTRIBUTES attributes, const char* call, std::vector<std::string>* parts) {
    if (!sim::CheckIrqlIs(PASSIVE_LEVEL, call)) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    if (attributes == nullptr || attributes->ObjectName == nullptr) {
        VerifierFail("%s without an object name", call);
        return STATUS_INVALID_PARAMETER;
    }
    const std::string name = Narrow(attributes->ObjectName);
    std::string full;
    if (attributes->RootDirectory != nullptr) {
        std::string root;
        const NTSTATUS status = KeyPath(attributes->RootDirectory, call, &root);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        if (!name.empty() && name[0] == '\\') {
            return STATUS_OBJECT_PATH_SYNTAX_BAD;
        }
        full = name.empty() ? root : root + "\\" + name;
    } else {
        if (Lower(name).rfind("\\registry\\", 0) != 0) {
            return STATUS_OBJECT_PATH_SYNTAX_BAD;
        }
        full = name;
    }
    if (!Split(full, parts)) {
        return STATUS_OBJECT_NAME_INVALID;
    }
    return STATUS_SUCCESS;
}

} // namespace
} // namespace sim::registry

using namespace sim::registry;

NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT deviceObject, ULONG devInstKeyType, ACCESS_MASK,
                                 PHANDLE deviceRegKey, const char* file, int line) {
    if (!sim::CheckIrqlIs(PASSIVE_LEVEL, "IoOpenDeviceRegistryKey")) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    if (deviceObject == nullptr || (deviceObject->Flags & DO_BUS_ENUMERATED_DEVICE) == 0) {
        sim::VerifierFail("IoOpenDeviceRegistryKey of device %p, which is not a physical device "
                          "object",
                          static_cast<void*>(deviceObject));
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (devInstKeyType != PLUGPLAY_REGKEY_DRIVER && devInstKeyType != PLUGPLAY_REGKEY_DEVICE) {
        return STATUS_INVALID_PARAMETER;
    }
    Store& store = TheStore();
    std::string path;
    {
        std::lock_guard<std::mutex> lock(store.mutex);
        path = DeviceKeyPathLocked(store, deviceObject, devInstKeyType == PLUGPLAY_REGKEY_DRIVER);
        CreatePath(store, path);
    }
    *deviceRegKey = OpenHandle(path, file, line);
    return STATUS_SUCCESS;
}

NTSTATUS ZwCreateKey(PHANDLE keyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES objectAttributes, ULONG,
                     PUNICODE_STRING, ULONG, PULONG disposition, const char* file, int line) {
    std::vector<std::string> parts;
    NTSTATUS status = Resolve(objectAttributes, "ZwCreateKey", &parts);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    Store& store = TheStore();
    bool created = false;
    {
        std::lock_guard<std::mutex> lock(store.mutex);
        Node* parent = Find(&store.root, parts, parts.size() - 1);
        if (parent == nullptr) {
            return STATUS_OBJECT_NAME_NOT_FOUND; // the platform creates one level at a time
        }
        Child(parent, parts.back(), &created);
        store.dirty |= created;
    }
    if (disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *keyHandle = OpenHandle(Canonical(parts, parts.size()), file, line);
    return STATUS_SUCCESS;
}

NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES objectAttributes,
                   const char* file, int line) {
    std::vector<std::string> parts;
    NTSTATUS status = Resolve(objectAttributes, "ZwOpenKey", &parts);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    {
        Store& store = TheStore();
        std::lock_guard<std::mutex> lock(store.mutex);
        if (Find(&store.root, parts, parts.size()) == nullptr) {
            return Find(&store.root, parts, parts.size() - 1) == nullptr
                       ? STATUS_OBJECT_PATH_NOT_FOUND
                       : STATUS_OBJECT_NAME_NOT_FOUND;
        }
    }
    *keyHandle = OpenHandle(Canonical(parts, parts.size()), file, line);
    return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                         KEY_VALUE_INFORMATION_CLASS keyValueInformationClass,
                         PVOID keyValueInformation, ULONG length, PULONG resultLength) {
    if (!sim::CheckIrqlIs(PASSIVE_LEVEL, "ZwQueryValueKey")) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    if (resultLength == nullptr) {
        sim::VerifierFail("ZwQueryValueKey without a result length");
        return STATUS_INVALID_PARAMETER;
    }
    std::string path;
    NTSTATUS status = KeyPath(keyHandle, "ZwQueryValueKey", &path);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (keyValueInformationClass != KeyValuePartialInformation) {
        return STATUS_INVALID_PARAMETER;
    }
    Value value;
    status = WithKey(path, [&](Store&, Node& key) {
        auto it = key.values.find(Lower(Narrow(valueName)));
        if (it == key.values.end()) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        value = it->second.value;
        return STATUS_SUCCESS;
    });
    if (!NT_SUCCESS(status)) {
        return status;
    }
    constexpr ULONG kFixed = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
    *resultLength = kFixed + static_cast<ULONG>(value.data.size());
    if (length < kFixed) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(keyValueInformation);
    info->TitleIndex = 0;
    info->Type = value.type;
    info->DataLength = static_cast<ULONG>(value.data.size());
    const size_t room = length - kFixed;
    if (!value.data.empty()) { // an empty value has no data to copy (nor a data pointer)
        std::memcpy(info->Data, value.data.data(), std::min(room, value.data.size()));
    }
    return room < value.data.size() ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

NTSTATUS ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, ULONG, ULONG type, PVOID data,
                       ULONG dataSize) {
    if (!sim::CheckIrqlIs(PASSIVE_LEVEL, "ZwSetValueKey")) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    std::string path;
    NTSTATUS status = KeyPath(keyHandle, "ZwSetValueKey", &path);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (data == nullptr && dataSize > 0) {
        return STATUS_INVALID_PARAMETER;
    }
    return WithKey(path, [&](Store& store, Node& key) {
        const std::string name = Narrow(valueName);
        const auto* bytes = static_cast<const uint8_t*>(data);
        key.values[Lower(name)] =
            StoredValue{name, Value{type, std::vector<uint8_t>(bytes, bytes + dataSize)}};
        store.dirty = true;
        return STATUS_SUCCESS;
    });
}
