#include "sim/wdk/registry_tree.h"

#include <cctype>
#include <cstring>

namespace sim::registry {

Store& TheStore() {
    static Store* store = new Store;
    return *store;
}

std::string Lower(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

bool Split(const std::string& path, std::vector<std::string>* parts) {
    parts->clear();
    size_t start = path.empty() || path[0] != '\\' ? 0 : 1;
    while (start <= path.size()) {
        const size_t end = path.find('\\', start);
        const std::string part =
            path.substr(start, end == std::string::npos ? std::string::npos : end - start);
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

Node* Child(Node* node, const std::string& name, bool* created) {
    auto& child = node->children[Lower(name)];
    const bool fresh = !child;
    if (fresh) {
        child = std::make_unique<Node>();
        child->name = name;
    }
    if (created != nullptr) {
        *created = fresh;
    }
    return child.get();
}

Node* CreatePath(Store& store, const std::string& path) {
    std::vector<std::string> parts;
    if (!Split(path, &parts)) {
        return nullptr;
    }
    Node* node = &store.root;
    for (const std::string& part : parts) {
        bool created = false;
        node = Child(node, part, &created);
        store.dirty |= created;
    }
    return node;
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

} // namespace sim::registry
