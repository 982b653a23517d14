// Kernel mutexes: acquired by waiting on them, recursively by their owner. Holding one keeps
// normal kernel APCs disabled (a critical region), as on the platform. Releasing a mutex the
// thread does not own, and a thread ending while it owns one, are verifier failures.
#pragma once

#include "sim/wdk/dispatcher.h"

typedef struct _KMUTANT {
    DISPATCHER_HEADER Header;
    LIST_ENTRY MutantListEntry;
    struct _KTHREAD* OwnerThread;
    BOOLEAN Abandoned;
    UCHAR ApcDisable;
} KMUTANT, *PKMUTANT, *PRKMUTANT, KMUTEX, *PKMUTEX, *PRKMUTEX;
static_assert(sizeof(KMUTEX) == 56, "KMUTEX layout");

VOID KeInitializeMutex(PRKMUTEX mutex, ULONG level);
// The previous signal state.
LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN wait);
LONG KeReadStateMutex(PRKMUTEX mutex);

namespace sim {
// Kernel mutexes the calling thread owns now.
int OwnedMutexes();
} // namespace sim
