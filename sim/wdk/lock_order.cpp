#include "sim/wdk/lock_order.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sim/wdk/verifier.h"

namespace sim::lock_order {
namespace {

struct Site {
    const char* file;
    int line;
};

struct Lock {
    uint64_t id;
    Kind kind;
    std::string name;
};

// `first` was held (taken at firstSite) while `second` was taken at secondSite.
struct Order {
    Site firstSite;
    Site secondSite;
    bool reported = false;
};

struct Held {
    const void* lock;
    uint64_t id;
    Site site;
    int depth;
};

struct Registry {
    std::mutex mutex;
    uint64_t nextId = 1;
    std::map<uintptr_t, Lock> locks;
    std::map<std::pair<uint64_t, uint64_t>, Order> orders;
    // For each lock, the locks it has an order with, so that its orders die with it.
    std::unordered_map<uint64_t, std::vector<uint64_t>> partners;
    int inversions = 0;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry; // never destroyed: threads may outlive main
    return *registry;
}

thread_local std::vector<Held> t_held;

uintptr_t Address(const void* lock) {
    return reinterpret_cast<uintptr_t>(lock);
}

void ForgetLocked(Registry& registry, uint64_t id) {
    auto partners = registry.partners.find(id);
    if (partners == registry.partners.end()) {
        return;
    }
    for (uint64_t other : partners->second) {
        registry.orders.erase({id, other});
        registry.orders.erase({other, id});
    }
    registry.partners.erase(partners);
}

Lock& BornLocked(Registry& registry, const void* lock, Kind kind) {
    auto found = registry.locks.find(Address(lock));
    if (found != registry.locks.end()) {
        ForgetLocked(registry, found->second.id);
        registry.locks.erase(found);
    }
    return registry.locks.emplace(Address(lock), Lock{registry.nextId++, kind, {}}).first->second;
}

// A lock of another kind at the address is a new lock that was never initialised.
Lock& FindLocked(Registry& registry, const void* lock, Kind kind) {
    auto found = registry.locks.find(Address(lock));
    if (found != registry.locks.end() && found->second.kind == kind) {
        return found->second;
    }
    return BornLocked(registry, lock, kind);
}

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::SpinLock:
        return "spin lock";
    case Kind::Mutex:
        return "kernel mutex";
    case Kind::FastMutex:
        return "fast mutex";
    }
    return "lock";
}

std::string Describe(const Lock& lock, const void* address) {
    char text[160];
    std::snprintf(text, sizeof text, "%s %p",
                  lock.name.empty() ? KindName(lock.kind) : lock.name.c_str(), address);
    return text;
}

// The source path from the repository's top folder on, which is all a reader needs.
const char* ShortPath(const char* file) {
    const char* best = nullptr;
    for (const char* top : {"/driver/", "/sim/", "/tests/", "/tools/"}) {
        const char* at = std::strstr(file, top);
        if (at != nullptr && (best == nullptr || at < best)) {
            best = at;
        }
    }
    return best != nullptr ? best + 1 : file;
}

std::string Where(Site site) {
    return std::string(ShortPath(site.file)) + ":" + std::to_string(site.line);
}

Held* FindHeld(const void* lock) {
    for (auto it = t_held.rbegin(); it != t_held.rend(); ++it) {
        if (it->lock == lock) {
            return &*it;
        }
    }
    return nullptr;
}

} // namespace

void Born(const void* lock, Kind kind) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    BornLocked(registry, lock, kind);
}

void ForgetRange(const void* begin, size_t bytes) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    const uintptr_t end = Address(begin) + bytes;
    for (auto it = registry.locks.lower_bound(Address(begin));
         it != registry.locks.end() && it->first < end;) {
        ForgetLocked(registry, it->second.id);
        it = registry.locks.erase(it);
    }
}

void Name(const void* lock, const char* name) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    auto found = registry.locks.find(Address(lock));
    if (found != registry.locks.end()) {
        found->second.name = name;
    }
}

void Taking(const void* lock, Kind kind, const char* file, int line) {
    if (FindHeld(lock) != nullptr) {
        return;
    }
    const Site site{file, line};
    std::vector<std::string> reports;
    Registry& registry = TheRegistry();
    {
        std::lock_guard<std::mutex> guard(registry.mutex);
        const Lock& taking = FindLocked(registry, lock, kind);
        const uint64_t id = taking.id;
        for (const Held& held : t_held) {
            auto holder = registry.locks.find(Address(held.lock));
            if (holder == registry.locks.end() || holder->second.id != held.id) {
                continue; // died while held; its orders are gone with it
            }
            auto reverse = registry.orders.find({id, held.id});
            auto [forward, added] =
                registry.orders.emplace(std::make_pair(held.id, id), Order{held.site, site});
            if (added) {
                registry.partners[held.id].push_back(id);
                registry.partners[id].push_back(held.id);
            }
            if (reverse == registry.orders.end() || reverse->second.reported) {
                continue;
            }
            reverse->second.reported = true;
            forward->second.reported = true;
            ++registry.inversions;
            const std::string taken = Describe(taking, lock);
            const std::string holding = Describe(holder->second, held.lock);
            reports.push_back(
                "lock order inversion: " + taken + " taken at " + Where(site) + " while holding " +
                holding + " (taken at " + Where(held.site) + "); the opposite order was seen at " +
                Where(reverse->second.secondSite) + ", taking " + holding + " while holding " +
                taken + " (taken at " + Where(reverse->second.firstSite) + ")");
        }
    }
    for (const std::string& report : reports) {
        VerifierFail("%s", report.c_str());
    }
}

void Taken(const void* lock, Kind kind, const char* file, int line) {
    if (Held* held = FindHeld(lock)) {
        ++held->depth;
        return;
    }
    uint64_t id;
    {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> guard(registry.mutex);
        id = FindLocked(registry, lock, kind).id;
    }
    t_held.push_back(Held{lock, id, Site{file, line}, 1});
}

void Released(const void* lock) {
    for (auto it = t_held.end(); it != t_held.begin();) {
        --it;
        if (it->lock == lock) {
            if (--it->depth == 0) {
                t_held.erase(it);
            }
            return;
        }
    }
}

int Inversions() {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    return registry.inversions;
}

} // namespace sim::lock_order
