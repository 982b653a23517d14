#include "sim/wdk/object_manager.h"

#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "sim/wdk/irql.h"
#include "sim/wdk/locked.h"
#include "sim/wdk/verifier.h"

struct _OBJECT_TYPE {
    sim::objects::Kind kind;
    const char* name;
};

namespace {
_OBJECT_TYPE g_threadType{sim::objects::Kind::Thread, "Thread"};
_OBJECT_TYPE g_keyType{sim::objects::Kind::Key, "Key"};
POBJECT_TYPE g_threadTypePointer = &g_threadType;
POBJECT_TYPE g_keyTypePointer = &g_keyType;
} // namespace

POBJECT_TYPE* PsThreadType = &g_threadTypePointer;
POBJECT_TYPE* CmKeyObjectType = &g_keyTypePointer;

namespace sim::objects {
namespace {

struct HandleEntry {
    Object* object;
    const char* file;
    int line;
    uint64_t serial;
};

struct Table {
    std::mutex mutex;
    std::unordered_map<HANDLE, HandleEntry> handles;
    std::unordered_set<Object*> live;
    uint64_t nextSerial = 1;
    uintptr_t nextHandle = 0x1000;
};

Table& TheTable() {
    static Table* table = new Table; // never destroyed: threads may end during teardown
    return *table;
}

} // namespace

void Register(Object* object, Kind kind, std::string description, void (*destroy)(Object*),
              const char* file, int line) {
    Locked table(TheTable());
    object->kind = kind;
    object->references.store(1);
    object->file = file;
    object->line = line;
    object->serial = table->nextSerial++;
    object->description = std::move(description);
    object->destroy = destroy;
    table->live.insert(object);
}

HANDLE CreateHandle(Object* object, const char* file, int line) {
    Locked table(TheTable());
    object->references.fetch_add(1);
    // Kernel handles: multiples of four with the top bit set, as the platform's look.
    const auto handle = reinterpret_cast<HANDLE>(~(~uintptr_t{0} >> 1) | table->nextHandle);
    table->nextHandle += 4;
    table->handles[handle] = HandleEntry{object, file, line, table->nextSerial++};
    return handle;
}

Object* ReferenceHandle(HANDLE handle, const Kind* expected, NTSTATUS* status, const char* call) {
    Locked table(TheTable());
    auto it = table->handles.find(handle);
    if (it == table->handles.end()) {
        *status = STATUS_INVALID_HANDLE;
        VerifierFail("%s with handle %p, which is not an open kernel handle", call, handle);
        return nullptr;
    }
    Object* object = it->second.object;
    if (expected != nullptr && object->kind != *expected) {
        *status = STATUS_OBJECT_TYPE_MISMATCH;
        return nullptr;
    }
    object->references.fetch_add(1);
    *status = STATUS_SUCCESS;
    return object;
}

void Reference(Object* object) {
    Locked table(TheTable());
    if (table->live.count(object) == 0) {
        VerifierFail("ObReferenceObject of %p, which is no live object",
                     static_cast<void*>(object));
        return;
    }
    object->references.fetch_add(1);
}

void ReferenceInternal(Object* object) {
    Locked table(TheTable());
    ++object->internalReferences;
    object->references.fetch_add(1);
}

namespace {
void Release(Object* object, bool internal, bool signal = false) {
    Table& table = TheTable();
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        if (signal) {
            sim::dispatcher::SetSignalState(&object->header, 1);
        }
        if (table.live.count(object) == 0) {
            VerifierFail("ObDereferenceObject of %p, which is no live object (released too often?)",
                         static_cast<void*>(object));
            return;
        }
        if (internal) {
            --object->internalReferences;
        }
        if (object->references.fetch_sub(1) != 1) {
            return;
        }
        table.live.erase(object);
    }
    object->destroy(object);
}
} // namespace

void Dereference(Object* object) {
    Release(object, false);
}
void DereferenceInternal(Object* object) {
    Release(object, true);
}
void SignalAndDereferenceInternal(Object* object) {
    Release(object, true, true);
}

uint64_t Mark() {
    return Locked(TheTable())->nextSerial;
}

size_t OpenHandles() {
    return Locked(TheTable())->handles.size();
}

size_t ReportLeaksSince(uint64_t mark, const char* context) {
    std::vector<std::string> leaks;
    {
        Table& table = TheTable();
        std::lock_guard<std::mutex> lock(table.mutex);
        std::unordered_map<Object*, int> handlesPerObject;
        for (const auto& [handle, entry] : table.handles) {
            ++handlesPerObject[entry.object];
            if (entry.serial >= mark) {
                leaks.push_back(std::string("handle to ") + entry.object->description +
                                " opened at " + BaseName(entry.file) + ":" +
                                std::to_string(entry.line) + " was never closed");
            }
        }
        for (Object* object : table.live) {
            if (object->serial < mark) {
                continue;
            }
            if (object->running.load()) {
                leaks.push_back(object->description + " created at " + BaseName(object->file) +
                                ":" + std::to_string(object->line) + " is still running");
            }
            const long references =
                object->references.load() - handlesPerObject[object] - object->internalReferences;
            if (references > 0) {
                leaks.push_back(object->description + " created at " + BaseName(object->file) +
                                ":" + std::to_string(object->line) + " still holds " +
                                std::to_string(references) + " reference(s)");
            }
        }
    }
    for (const std::string& leak : leaks) {
        VerifierFail("%s: %s", context, leak.c_str());
    }
    return leaks.size();
}

} // namespace sim::objects

using namespace sim::objects;

NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK, POBJECT_TYPE objectType,
                                   KPROCESSOR_MODE, PVOID* object,
                                   POBJECT_HANDLE_INFORMATION handleInformation) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "ObReferenceObjectByHandle");
    NTSTATUS status;
    Object* found = ReferenceHandle(handle, objectType ? &objectType->kind : nullptr, &status,
                                    "ObReferenceObjectByHandle");
    *object = found;
    if (found != nullptr && handleInformation != nullptr) {
        handleInformation->HandleAttributes = OBJ_KERNEL_HANDLE;
        handleInformation->GrantedAccess = GENERIC_ALL;
    }
    return status;
}

LONG_PTR ObfReferenceObject(PVOID object) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "ObReferenceObject");
    auto* o = static_cast<Object*>(object);
    Reference(o);
    return o->references.load();
}

LONG_PTR ObfDereferenceObject(PVOID object) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "ObDereferenceObject");
    Dereference(static_cast<Object*>(object));
    return 0;
}

NTSTATUS ZwClose(HANDLE handle) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "ZwClose");
    Table& table = TheTable();
    Object* object;
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        auto it = table.handles.find(handle);
        if (it == table.handles.end()) {
            sim::VerifierFail("ZwClose of handle %p, which is not open (closed twice?)", handle);
            return STATUS_INVALID_HANDLE;
        }
        object = it->second.object;
        table.handles.erase(it);
    }
    Dereference(object);
    return STATUS_SUCCESS;
}
