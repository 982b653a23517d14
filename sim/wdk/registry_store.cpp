// The registry's backing file: a text format a person can read and edit, written atomically
// (a temporary file, then a rename).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/wdk/registry_tree.h"
#include "sim/wdk/verifier.h"

namespace sim::registry {
namespace {

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
                key = Child(key, part);
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

} // namespace

void WriteBack() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    if (store.dirty && !store.file.empty()) {
        std::string error;
        if (!WriteFileLocked(store, &error)) {
            VerifierFail("registry: %s", error.c_str());
        }
    }
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
