#include "sim/wdk/fast_mutex.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "sim/wdk/irql.h"
#include "sim/wdk/lock_order.h"
#include "sim/wdk/verifier.h"

namespace {

// Waiters park on one of a few shared condition variables chosen by the mutex's address, so
// that a FAST_MUTEX stays a plain structure that needs no teardown.
struct ParkingSlot {
    std::mutex lock;
    std::condition_variable wake;
};

ParkingSlot& SlotFor(const FAST_MUTEX* mutex) {
    static ParkingSlot* slots = new ParkingSlot[64]; // never destroyed, like the pool
    return slots[(reinterpret_cast<uintptr_t>(mutex) >> 4) % 64];
}

// A distinct address per thread identifies the owner.
PVOID CurrentThread() {
    thread_local char identity;
    return &identity;
}

bool TryTake(PFAST_MUTEX mutex) {
    LONG expected = 1;
    return __atomic_compare_exchange_n(&mutex->Count, &expected, 0, false, __ATOMIC_ACQUIRE,
                                       __ATOMIC_RELAXED);
}

} // namespace

VOID ExInitializeFastMutex(PFAST_MUTEX mutex) {
    sim::lock_order::Born(mutex, sim::lock_order::Kind::FastMutex);
    __atomic_store_n(&mutex->Count, 1, __ATOMIC_RELEASE);
    __atomic_store_n(&mutex->Owner, nullptr, __ATOMIC_RELAXED);
    mutex->Contention = 0;
    mutex->OldIrql = 0;
}

VOID ExAcquireFastMutex(PFAST_MUTEX mutex, const char* file, int line) {
    sim::CheckIrqlAtMost(APC_LEVEL, "ExAcquireFastMutex");
    const PVOID self = CurrentThread();
    if (__atomic_load_n(&mutex->Owner, __ATOMIC_RELAXED) == self) {
        sim::VerifierFail("ExAcquireFastMutex of %p: the calling thread already owns it "
                          "(fast mutexes are not recursive)",
                          static_cast<void*>(mutex));
        return;
    }
    sim::lock_order::Taking(mutex, sim::lock_order::Kind::FastMutex, file, line);
    if (!TryTake(mutex)) {
        __atomic_add_fetch(&mutex->Contention, 1, __ATOMIC_RELAXED);
        ParkingSlot& slot = SlotFor(mutex);
        std::unique_lock<std::mutex> lock(slot.lock);
        slot.wake.wait(lock, [mutex] { return TryTake(mutex); });
    }
    __atomic_store_n(&mutex->Owner, self, __ATOMIC_RELAXED);
    sim::lock_order::Taken(mutex, sim::lock_order::Kind::FastMutex, file, line);
    KIRQL old;
    KeRaiseIrql(APC_LEVEL, &old);
    mutex->OldIrql = old;
}

VOID ExReleaseFastMutex(PFAST_MUTEX mutex) {
    if (__atomic_load_n(&mutex->Owner, __ATOMIC_RELAXED) != CurrentThread()) {
        sim::VerifierFail("ExReleaseFastMutex of %p by a thread that does not own it",
                          static_cast<void*>(mutex));
        return;
    }
    sim::CheckIrqlIs(APC_LEVEL, "ExReleaseFastMutex");
    const auto old = static_cast<KIRQL>(mutex->OldIrql);
    sim::lock_order::Released(mutex);
    __atomic_store_n(&mutex->Owner, nullptr, __ATOMIC_RELAXED);
    ParkingSlot& slot = SlotFor(mutex);
    {
        // Under the slot's lock, so that a waiter between its check and its wait cannot miss
        // the release.
        std::lock_guard<std::mutex> lock(slot.lock);
        __atomic_store_n(&mutex->Count, 1, __ATOMIC_RELEASE);
    }
    slot.wake.notify_all();
    KeLowerIrql(old);
}
