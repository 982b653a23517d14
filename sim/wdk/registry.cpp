#include "sim/wdk/registry.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <unordered_map>

#include "sim/wdk/irql.h"
#include "sim/wdk/object_manager.h"
#include "sim/wdk/verifier.h"

namespace sim::registry {
namespace {

std::string Lower(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

struct StoredValue {
    std::string name;
    Value value;
};

struct Node {
    std::string name;
    std::map<std::string, std::unique_ptr<Node>> children; // by lower-case name
    std::map<std::string, StoredValue> values;              // by lower-case name
};

struct Store {
    std::mutex mutex;
    Node root; // its children are the top-level keys ("Registry")
    std::unordered_map<PDEVICE_OBJECT, std::string> driverKeys;
    std::unordered_map<PDEVICE_OBJECT, std::string> deviceKeys;
    unsigned nextDevice = 0;
    std::string file;
    bool dirty = false;
};

Store& TheStore() {
    static Store* store = new Store;
    return *store;
}

constexpr char kClassKey[] =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\"
    "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";

// Splits "\A\B" or "A\B" into components; false when a component is empty.
bool Split(const std::string& path, std::vector<std::string>* parts) {
    parts->clear();
    size_t start = path.empty() || path[0] != '\\' ? 0 : 1;
    while (start <= path.size()) {
        const size_t end = path.find('\\', start);
        const std::string part = path.substr(start, end == std::string::npos ? std::string::npos
                                                                             : end - start);
        if (part.empty()) {
            return end == std::string::npos && !parts->empty(); // a trailing backslash is fine
        }
        parts->push_back(part);
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return !parts->empty();
}

Node* Find(Node* node, const std::vector<std::string>& parts, size_t count) {
    for (size_t i = 0; i < count && node != nullptr; ++i) {
        auto it = node->children.find(Lower(parts[i]));
        node = it == node->children.end() ? nullptr : it->second.get();
    }
    return node;
}

Node* FindPath(Store& store, const std::string& path) {
    std::vector<std::string> parts;
    if (!Split(path, &parts)) {
        return nullptr;
    }
    return Find(&store.root, parts, parts.size());
}

Node* CreatePath(Store& store, const std::string& path) {
    std::vector<std::string> parts;
    if (!Split(path, &parts)) {
        return nullptr;
    }
    Node* node = &store.root;
    for (const std::string& part : parts) {
        auto& child = node->children[Lower(part)];
        if (!child) {
            child = std::make_unique<Node>();
            child->name = part;
            store.dirty = true;
        }
        node = child.get();
    }
    return node;
}

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

bool WriteFileLocked(Store& store, std::string* error);

void DestroyKey(sim::objects::Object* object) {
    delete reinterpret_cast<KeyObject*>(object);
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    if (store.dirty && !store.file.empty()) {
        std::string error;
        if (!WriteFileLocked(store, &error)) {
            VerifierFail("registry: %s", error.c_str());
        }
    }
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

// Resolves object attributes to path components; the last one may not exist yet.
NTSTATUS Resolve(POBJECT_ATTRIBUTES attributes, const char* call,
                 std::vector<std::string>* parts) {
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

// Registry file format: "[path]" lines name keys; "name"=dword:XXXXXXXX or "name"=hex(T):aa,bb
// lines are values of the key above them.
std::string Quote(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

void SerializeNode(const Node& node, const std::string& path, std::ostringstream& out) {
    if (!path.empty()) {
        out << "[" << path << "]\n";
        for (const auto& [lower, stored] : node.values) {
            out << Quote(stored.name) << "=";
            const Value& v = stored.value;
            if (v.type == REG_DWORD && v.data.size() == 4) {
                uint32_t dword;
                std::memcpy(&dword, v.data.data(), 4);
                char text[16];
                std::snprintf(text, sizeof text, "%08x", dword);
                out << "dword:" << text << "\n";
            } else {
                out << "hex(" << v.type << "):";
                for (size_t i = 0; i < v.data.size(); ++i) {
                    char text[4];
                    std::snprintf(text, sizeof text, "%02x", v.data[i]);
                    out << (i ? "," : "") << text;
                }
                out << "\n";
            }
        }
        out << "\n";
    }
    for (const auto& [lower, child] : node.children) {
        SerializeNode(*child, path + "\\" + child->name, out);
    }
}

std::string SerializeLocked(Store& store) {
    std::ostringstream out;
    out << "; simulated registry\n\n";
    SerializeNode(store.root, "", out);
    return out.str();
}

bool ParseInto(Store& store, const std::string& text, std::string* error) {
    Node fresh;
    Node* key = nullptr;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto fail = [&](const char* what) {
        if (error != nullptr) {
            *error = "line " + std::to_string(number) + ": " + what;
        }
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            if (line.back() != ']') {
                return fail("a key line must end with ']'");
            }
            std::vector<std::string> parts;
            if (!Split(line.substr(1, line.size() - 2), &parts)) {
                return fail("bad key path");
            }
            key = &fresh;
            for (const std::string& part : parts) {
                auto& child = key->children[Lower(part)];
                if (!child) {
                    child = std::make_unique<Node>();
                    child->name = part;
                }
                key = child.get();
            }
            continue;
        }
        if (line[0] != '"' || key == nullptr) {
            return fail("expected a [key] or a \"value\" line");
        }
        std::string name;
        size_t i = 1;
        for (; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                ++i;
            }
            name += line[i];
        }
        if (i >= line.size() || i + 1 >= line.size() || line[i + 1] != '=') {
            return fail("expected \"name\"=");
        }
        const std::string data = line.substr(i + 2);
        Value value;
        if (data.rfind("dword:", 0) == 0) {
            char* end = nullptr;
            const unsigned long dword = std::strtoul(data.c_str() + 6, &end, 16);
            if (data.size() != 14 || *end != '\0') {
                return fail("dword: wants eight hexadecimal digits");
            }
            value.type = REG_DWORD;
            const uint32_t v = static_cast<uint32_t>(dword);
            value.data.assign(reinterpret_cast<const uint8_t*>(&v),
                              reinterpret_cast<const uint8_t*>(&v) + 4);
        } else if (data.rfind("hex(", 0) == 0) {
            const size_t close = data.find("):");
            if (close == std::string::npos) {
                return fail("hex(type): expected");
            }
            value.type = static_cast<ULONG>(std::strtoul(data.c_str() + 4, nullptr, 10));
            std::istringstream bytes(data.substr(close + 2));
            std::string byte;
            while (std::getline(bytes, byte, ',')) {
                char* end = nullptr;
                const unsigned long b = std::strtoul(byte.c_str(), &end, 16);
                if (byte.empty() || byte.size() > 2 || *end != '\0' || b > 0xFF) {
                    return fail("bad byte in hex data");
                }
                value.data.push_back(static_cast<uint8_t>(b));
            }
        } else {
            return fail("a value is dword:... or hex(type):...");
        }
        key->values[Lower(name)] = StoredValue{name, std::move(value)};
    }
    store.root = std::move(fresh);
    return true;
}

bool WriteFileLocked(Store& store, std::string* error) {
    const std::string temporary = store.file + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << SerializeLocked(store);
        out.flush();
        if (!out) {
            *error = "cannot write " + temporary;
            return false;
        }
    }
    // Replaces the previous file in one step; the C library's rename refuses an existing
    // target on Windows.
    std::error_code renamed;
    std::filesystem::rename(temporary, store.file, renamed);
    if (renamed) {
        *error = "cannot replace " + store.file;
        std::remove(temporary.c_str());
        return false;
    }
    store.dirty = false;
    return true;
}

std::string DeviceKeyPathLocked(Store& store, PDEVICE_OBJECT device, bool driverKey) {
    auto& keys = driverKey ? store.driverKeys : store.deviceKeys;
    auto it = keys.find(device);
    if (it != keys.end()) {
        return it->second;
    }
    char number[16];
    std::snprintf(number, sizeof number, "%04u", store.nextDevice++);
    const std::string path =
        driverKey ? std::string(kClassKey) + "\\" + number
                  : std::string("\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\SIM\\") +
                        number + "\\Device Parameters";
    keys[device] = path;
    return path;
}

} // namespace

void BindDriverKey(PDEVICE_OBJECT physicalDevice, const std::string& path) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.driverKeys[physicalDevice] = path;
}

std::string DriverKeyPath(PDEVICE_OBJECT physicalDevice) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    return DeviceKeyPathLocked(store, physicalDevice, true);
}

void UnbindDevice(PDEVICE_OBJECT physicalDevice) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.driverKeys.erase(physicalDevice);
    store.deviceKeys.erase(physicalDevice);
}

void CreateKey(const std::string& path) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    CreatePath(store, path);
}

bool KeyExists(const std::string& path) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    return FindPath(store, path) != nullptr;
}

void DeleteKey(const std::string& path) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    std::vector<std::string> parts;
    if (!Split(path, &parts)) {
        return;
    }
    Node* parent = Find(&store.root, parts, parts.size() - 1);
    if (parent != nullptr && parent->children.erase(Lower(parts.back())) > 0) {
        store.dirty = true;
    }
}

void SetValue(const std::string& keyPath, const std::string& name, ULONG type,
              std::vector<uint8_t> data) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    Node* key = CreatePath(store, keyPath);
    if (key != nullptr) {
        key->values[Lower(name)] = StoredValue{name, Value{type, std::move(data)}};
        store.dirty = true;
    }
}

void SetDword(const std::string& keyPath, const std::string& name, uint32_t value) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    SetValue(keyPath, name, REG_DWORD, std::vector<uint8_t>(bytes, bytes + 4));
}

std::optional<Value> GetValue(const std::string& keyPath, const std::string& name) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    Node* key = FindPath(store, keyPath);
    if (key == nullptr) {
        return std::nullopt;
    }
    auto it = key->values.find(Lower(name));
    if (it == key->values.end()) {
        return std::nullopt;
    }
    return it->second.value;
}

std::optional<uint32_t> GetDword(const std::string& keyPath, const std::string& name) {
    std::optional<Value> value = GetValue(keyPath, name);
    if (!value || value->type != REG_DWORD || value->data.size() != 4) {
        return std::nullopt;
    }
    uint32_t dword;
    std::memcpy(&dword, value->data.data(), 4);
    return dword;
}

std::vector<std::string> ValueNames(const std::string& keyPath) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    std::vector<std::string> names;
    if (Node* key = FindPath(store, keyPath)) {
        for (const auto& [lower, stored] : key->values) {
            names.push_back(stored.name);
        }
    }
    return names;
}

void Clear() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.root = Node{};
    store.dirty = true;
}

bool UseFile(const std::string& path, std::string* error) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    std::ifstream in(path, std::ios::binary);
    if (in) {
        std::ostringstream text;
        text << in.rdbuf();
        std::string reason;
        if (!ParseInto(store, text.str(), &reason)) {
            if (error != nullptr) {
                *error = path + ": " + reason;
            }
            return false;
        }
    } else {
        store.root = Node{};
    }
    store.file = path;
    store.dirty = false;
    return true;
}

void StopUsingFile() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.file.clear();
}

bool Flush(std::string* error) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    if (store.file.empty()) {
        return true;
    }
    std::string reason;
    const bool written = WriteFileLocked(store, &reason);
    if (!written && error != nullptr) {
        *error = reason;
    }
    return written;
}

std::string Serialize() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    return SerializeLocked(store);
}

bool Parse(const std::string& text, std::string* error) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    std::string reason;
    const bool parsed = ParseInto(store, text, &reason);
    if (!parsed && error != nullptr) {
        *error = reason;
    }
    store.dirty = store.dirty || parsed;
    return parsed;
}

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
    if (!sim::CheckIrqlIs(PASSIVE_LEVEL, "ZwCreateKey")) {
        return STATUS_INVALID_DEVICE_STATE;
    }
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
        auto& child = parent->children[Lower(parts.back())];
        if (!child) {
            child = std::make_unique<Node>();
            child->name = parts.back();
            created = true;
            store.dirty = true;
        }
    }
    if (disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *keyHandle = OpenHandle(Canonical(parts, parts.size()), file, line);
    return STATUS_SUCCESS;
}

NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES objectAttributes,
                   const char* file, int line) {
    if (!sim::CheckIrqlIs(PASSIVE_LEVEL, "ZwOpenKey")) {
        return STATUS_INVALID_DEVICE_STATE;
    }
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
    {
        Store& store = TheStore();
        std::lock_guard<std::mutex> lock(store.mutex);
        Node* key = FindPath(store, path);
        if (key == nullptr) {
            return STATUS_KEY_DELETED;
        }
        auto it = key->values.find(Lower(Narrow(valueName)));
        if (it == key->values.end()) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        value = it->second.value;
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
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    Node* key = FindPath(store, path);
    if (key == nullptr) {
        return STATUS_KEY_DELETED;
    }
    const std::string name = Narrow(valueName);
    const auto* bytes = static_cast<const uint8_t*>(data);
    key->values[Lower(name)] =
        StoredValue{name, Value{type, std::vector<uint8_t>(bytes, bytes + dataSize)}};
    store.dirty = true;
    return STATUS_SUCCESS;
}
