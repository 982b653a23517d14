// The registry's contents behind the calls, the test interface and the backing file: a tree of
// keys holding values, names kept as first written and compared without case, and which key
// belongs to which device. One store per process, behind one lock.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "sim/wdk/registry.h"

namespace sim::registry {

struct StoredValue {
    std::string name;
    Value value;
};

struct Node {
    std::string name;
    std::map<std::string, std::unique_ptr<Node>> children; // by lower-case name
    std::map<std::string, StoredValue> values;             // by lower-case name
};

struct Store {
    std::mutex mutex;
    Node root; // its children are the top-level keys ("Registry")
    std::unordered_map<PDEVICE_OBJECT, std::string> driverKeys;
    std::unordered_map<PDEVICE_OBJECT, std::string> deviceKeys;
    unsigned nextDevice = 0;
    std::string file; // the backing file; empty while the store lives in memory only
    bool dirty = false;
};

Store& TheStore();

std::string Lower(const std::string& text);
// Splits "\A\B" or "A\B" into components; false when a component is empty.
bool Split(const std::string& path, std::vector<std::string>* parts);
// The key the first `count` parts name below `node`, or null.
Node* Find(Node* node, const std::vector<std::string>& parts, size_t count);
Node* FindPath(Store& store, const std::string& path);
// The child key of that name, created when missing (*created tells).
Node* Child(Node* node, const std::string& name, bool* created = nullptr);
// Creates the key and every key above it; null for a malformed path.
Node* CreatePath(Store& store, const std::string& path);

// The driver (or device) key path of a physical device object, assigned on first use.
std::string DeviceKeyPathLocked(Store& store, PDEVICE_OBJECT device, bool driverKey);

// Writes a changed store to its backing file, if it has one; a failure fails the test.
void WriteBack();

} // namespace sim::registry
