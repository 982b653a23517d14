// System threads. Each is a real host thread at PASSIVE_LEVEL; its object is signalled when it
// ends. A thread that ends at raised IRQL, holding a spin lock or a mutex, inside a critical
// region or with a floating-point state saved is a verifier failure.
#pragma once

#include "sim/wdk/dispatcher.h"
#include "sim/wdk/objects.h"

typedef struct _KTHREAD *PKTHREAD, *PRKTHREAD;
typedef struct _KTHREAD ETHREAD, *PETHREAD;

typedef VOID KSTART_ROUTINE(PVOID startContext);
typedef KSTART_ROUTINE* PKSTART_ROUTINE;

typedef struct _CLIENT_ID {
    HANDLE UniqueProcess;
    HANDLE UniqueThread;
} CLIENT_ID, *PCLIENT_ID;

NTSTATUS PsCreateSystemThread(PHANDLE threadHandle, ULONG desiredAccess,
                              POBJECT_ATTRIBUTES objectAttributes, HANDLE processHandle,
                              PCLIENT_ID clientId, PKSTART_ROUTINE startRoutine, PVOID startContext,
                              const char* file = __builtin_FILE(), int line = __builtin_LINE());
// Ends the calling system thread; never returns to its caller.
NTSTATUS PsTerminateSystemThread(NTSTATUS exitStatus);
PETHREAD PsGetCurrentThread();
PKTHREAD KeGetCurrentThread();
// Waits the interval (negative: relative, positive: absolute system time, in 100-ns units).
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE waitMode, BOOLEAN alertable,
                                PLARGE_INTEGER interval);

namespace sim {
// System threads started and not yet ended.
int RunningSystemThreads();

// While one lives, relative KeDelayExecutionThread waits last a hundredth of what they ask.
// The driver's waits for the camera to power up or settle are waits for hardware that the
// emulated camera does not have; a test that lives a camera's whole life hundreds of times
// over, for what the driver does rather than for how long it waits, need not sit through them.
struct ShortDelays {
    ShortDelays();
    ~ShortDelays();
    ShortDelays(ShortDelays&&) = delete; // each one counts once: neither copied nor moved
};
} // namespace sim
