// Spin locks. Acquiring raises the thread to DISPATCH_LEVEL and records the holder in the lock:
// acquiring a lock the thread already holds (a deadlock on the platform), releasing one it does
// not hold, and the AtDpcLevel forms used below DISPATCH_LEVEL are verifier failures.
#pragma once

#include "sim/wdk/irql.h"

VOID KeInitializeSpinLock(PKSPIN_LOCK lock);
// `file` and `line` name the caller for the lock-order check (sim/wdk/lock_order.h).
VOID KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql, const char* file = __builtin_FILE(),
                       int line = __builtin_LINE());
VOID KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL newIrql);
VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK lock, const char* file = __builtin_FILE(),
                                 int line = __builtin_LINE());
VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK lock);
KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK lock, const char* file = __builtin_FILE(),
                                  int line = __builtin_LINE());
BOOLEAN KeTestSpinLock(PKSPIN_LOCK lock);

namespace sim {
// Spin locks the calling thread holds now.
int HeldSpinLocks();
} // namespace sim
