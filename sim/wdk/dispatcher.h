// Waitable kernel objects: the dispatcher header they begin with and the wait on one of them.
// A wait that can block (no timeout or a non-zero one) above APC_LEVEL, or any wait above
// DISPATCH_LEVEL, is a verifier failure; so is a wait on memory that holds no initialised
// dispatcher object.
#pragma once

#include "sim/wdk/irql.h"

typedef struct _DISPATCHER_HEADER {
    UCHAR Type;
    UCHAR Signalling;
    UCHAR Size;
    UCHAR Reserved1;
    LONG SignalState;
    LIST_ENTRY WaitListHead; // points at itself once initialised
} DISPATCHER_HEADER, *PDISPATCHER_HEADER;
static_assert(sizeof(DISPATCHER_HEADER) == 24, "DISPATCHER_HEADER layout");

// Object types as the platform numbers them.
typedef enum _KOBJECTS {
    EventNotificationObject = 0,
    EventSynchronizationObject = 1,
    MutantObject = 2,
    ProcessObject = 3,
    QueueObject = 4,
    SemaphoreObject = 5,
    ThreadObject = 6,
} KOBJECTS;

typedef enum _KWAIT_REASON {
    Executive = 0,
    FreePage,
    PageIn,
    PoolAllocation,
    DelayExecution,
    Suspended,
    UserRequest,
} KWAIT_REASON;

// Timeout: null waits forever; negative is relative, positive absolute system time, both in
// 100-ns units; zero only tests the state. STATUS_SUCCESS or STATUS_TIMEOUT.
// `file` and `line` name the caller for the lock-order check of a wait for a kernel mutex
// (sim/wdk/lock_order.h).
LONG KeWaitForSingleObject(PVOID object, KWAIT_REASON waitReason, KPROCESSOR_MODE waitMode,
                           BOOLEAN alertable, PLARGE_INTEGER timeout,
                           const char* file = __builtin_FILE(), int line = __builtin_LINE());

namespace sim::dispatcher {

// Marks a header as initialised with the given type and signal state.
void InitializeHeader(DISPATCHER_HEADER* header, KOBJECTS type, LONG signalState);
// Reports a verifier failure naming `call` unless the header was initialised.
bool CheckHeader(const DISPATCHER_HEADER* header, const char* call);

// Changes a signal state under the dispatcher lock and wakes waiters; returns the old state.
LONG SetSignalState(DISPATCHER_HEADER* header, LONG state);
LONG ReadSignalState(const DISPATCHER_HEADER* header);

} // namespace sim::dispatcher
