// Internal interface of the simulated object manager for the kinds of kernel object the
// platform creates (system threads, registry keys). Not part of the driver-visible platform.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "sim/wdk/dispatcher.h"
#include "sim/wdk/objects.h"

namespace sim::objects {

enum class Kind { Thread, Key };

// The start of every object the object manager tracks. The dispatcher header comes first so
// that waitable objects can be handed to KeWaitForSingleObject.
struct Object {
    DISPATCHER_HEADER header;
    Kind kind;
    std::atomic<long> references{0};
    const char* file = "";
    int line = 0;
    uint64_t serial = 0;
    std::string description;
    // References the platform itself holds (a running thread's own); never reported as leaks.
    int internalReferences = 0;
    // A system thread that has not ended yet.
    std::atomic<bool> running{false};
    // Frees the object when the last reference goes.
    void (*destroy)(Object* object) = nullptr;
};

// Takes ownership of a new object with one reference (its creator's).
void Register(Object* object, Kind kind, std::string description, void (*destroy)(Object*),
              const char* file, int line);
// A new handle to the object; the handle holds a reference of its own.
HANDLE CreateHandle(Object* object, const char* file, int line);
// The object behind an open handle, with a reference taken, or null with a status:
// STATUS_INVALID_HANDLE or STATUS_OBJECT_TYPE_MISMATCH. Reports unknown handles.
Object* ReferenceHandle(HANDLE handle, const Kind* expected, NTSTATUS* status, const char* call);
void Reference(Object* object);
void Dereference(Object* object);
// References taken and dropped by the platform itself.
void ReferenceInternal(Object* object);
void DereferenceInternal(Object* object);
// Signals a waitable object and drops a reference of the platform's in one step: whoever the
// signal releases finds that reference gone.
void SignalAndDereferenceInternal(Object* object);

} // namespace sim::objects
