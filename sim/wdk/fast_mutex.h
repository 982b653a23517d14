// Fast mutexes: non-recursive kernel locks for code at or below APC_LEVEL. The owner runs at
// APC_LEVEL until it releases the mutex, as on the platform, so calls that need PASSIVE_LEVEL
// fail while one is held. Acquiring one that the calling thread already owns, acquiring above
// APC_LEVEL, or releasing one that it does not own, is a verifier failure (the call then does
// nothing instead of deadlocking or corrupting the lock).
#pragma once

#include "sim/wdk/wdk_types.h"

typedef struct _FAST_MUTEX {
    volatile LONG Count;  // 1 free, 0 owned
    volatile PVOID Owner; // the owning thread, null when free
    volatile ULONG Contention;
    ULONG OldIrql;
} FAST_MUTEX, *PFAST_MUTEX;

VOID ExInitializeFastMutex(PFAST_MUTEX mutex);
// `file` and `line` name the caller for the lock-order check (sim/wdk/lock_order.h).
VOID ExAcquireFastMutex(PFAST_MUTEX mutex, const char* file = __builtin_FILE(),
                        int line = __builtin_LINE());
VOID ExReleaseFastMutex(PFAST_MUTEX mutex);
