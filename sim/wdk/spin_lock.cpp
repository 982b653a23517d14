#include "sim/wdk/spin_lock.h"

#include <sched.h>

#include "sim/wdk/lock_order.h"
#include "sim/wdk/verifier.h"

namespace {

// The lock word holds its holder's token: the address of a per-thread object, never zero.
thread_local char t_holderToken;
thread_local int t_heldLocks = 0;

ULONG_PTR MyToken() {
    return reinterpret_cast<ULONG_PTR>(&t_holderToken);
}

bool Acquire(PKSPIN_LOCK lock, const char* call, const char* file, int line) {
    const ULONG_PTR me = MyToken();
    if (__atomic_load_n(lock, __ATOMIC_RELAXED) == me) {
        sim::VerifierFail("%s of spin lock %p that this thread already holds (deadlock)", call,
                          static_cast<void*>(lock));
        return false;
    }
    sim::lock_order::Taking(lock, sim::lock_order::Kind::SpinLock, file, line);
    for (;;) {
        ULONG_PTR expected = 0;
        if (__atomic_compare_exchange_n(lock, &expected, me, false, __ATOMIC_ACQUIRE,
                                        __ATOMIC_RELAXED)) {
            ++t_heldLocks;
            sim::lock_order::Taken(lock, sim::lock_order::Kind::SpinLock, file, line);
            return true;
        }
        sched_yield();
    }
}

void Release(PKSPIN_LOCK lock, const char* call) {
    const ULONG_PTR me = MyToken();
    const ULONG_PTR holder = __atomic_load_n(lock, __ATOMIC_RELAXED);
    if (holder != me) {
        sim::VerifierFail("%s of spin lock %p that this thread does not hold (%s)", call,
                          static_cast<void*>(lock),
                          holder == 0 ? "it is free" : "another thread holds it");
        return;
    }
    --t_heldLocks;
    sim::lock_order::Released(lock);
    __atomic_store_n(lock, 0, __ATOMIC_RELEASE);
}

} // namespace

VOID KeInitializeSpinLock(PKSPIN_LOCK lock) {
    sim::lock_order::Born(lock, sim::lock_order::Kind::SpinLock);
    __atomic_store_n(lock, 0, __ATOMIC_RELEASE);
}

VOID KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql, const char* file, int line) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "KeAcquireSpinLock");
    KeRaiseIrql(DISPATCH_LEVEL, oldIrql);
    Acquire(lock, "KeAcquireSpinLock", file, line);
}

KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK lock, const char* file, int line) {
    KIRQL old;
    KeAcquireSpinLock(lock, &old, file, line);
    return old;
}

VOID KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL newIrql) {
    sim::CheckIrqlIs(DISPATCH_LEVEL, "KeReleaseSpinLock");
    Release(lock, "KeReleaseSpinLock");
    KeLowerIrql(newIrql);
}

VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK lock, const char* file, int line) {
    sim::CheckIrqlIs(DISPATCH_LEVEL, "KeAcquireSpinLockAtDpcLevel");
    Acquire(lock, "KeAcquireSpinLockAtDpcLevel", file, line);
}

VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK lock) {
    sim::CheckIrqlIs(DISPATCH_LEVEL, "KeReleaseSpinLockFromDpcLevel");
    Release(lock, "KeReleaseSpinLockFromDpcLevel");
}

BOOLEAN KeTestSpinLock(PKSPIN_LOCK lock) {
    return __atomic_load_n(lock, __ATOMIC_RELAXED) == 0;
}

namespace sim {
int HeldSpinLocks() {
    return t_heldLocks;
}
} // namespace sim
