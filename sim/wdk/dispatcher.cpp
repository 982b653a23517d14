#include "sim/wdk/dispatcher.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "sim/wdk/clock.h"
#include "sim/wdk/critical_region.h"
#include "sim/wdk/events.h"
#include "sim/wdk/lock_order.h"
#include "sim/wdk/mutex.h"
#include "sim/wdk/spin_lock.h"
#include "sim/wdk/threads.h"
#include "sim/wdk/verifier.h"

namespace sim::dispatcher {
namespace {

// One lock and one condition for every dispatcher object: waits are rare and short-lived
// enough that waking every waiter on each signal costs nothing worth optimising.
std::mutex& Lock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}
std::condition_variable& Signalled() {
    static std::condition_variable* condition = new std::condition_variable;
    return *condition;
}

thread_local int t_ownedMutexes = 0;

bool Initialised(const DISPATCHER_HEADER* header) {
    return header->WaitListHead.Flink == &header->WaitListHead &&
           header->WaitListHead.Blink == &header->WaitListHead;
}

// Whether a wait on the object is satisfied now; if so, applies the side effects of the wait.
bool TrySatisfy(DISPATCHER_HEADER* header, PKTHREAD me) {
    switch (header->Type) {
    case EventSynchronizationObject:
        if (header->SignalState > 0) {
            header->SignalState = 0;
            return true;
        }
        return false;
    case MutantObject: {
        auto* mutex = reinterpret_cast<KMUTEX*>(header);
        if (header->SignalState > 0 || mutex->OwnerThread == me) {
            if (header->SignalState == 1) {
                mutex->OwnerThread = me;
                KeEnterCriticalRegion();
                ++t_ownedMutexes;
            }
            --header->SignalState;
            return true;
        }
        return false;
    }
    default:
        return header->SignalState > 0;
    }
}

} // namespace

void InitializeHeader(DISPATCHER_HEADER* header, KOBJECTS type, LONG signalState) {
    std::lock_guard<std::mutex> lock(Lock());
    header->Type = static_cast<UCHAR>(type);
    header->Signalling = 0;
    header->Size = 0;
    header->Reserved1 = 0;
    header->SignalState = signalState;
    header->WaitListHead.Flink = &header->WaitListHead;
    header->WaitListHead.Blink = &header->WaitListHead;
}

bool CheckHeader(const DISPATCHER_HEADER* header, const char* call) {
    if (header != nullptr && Initialised(header)) {
        return true;
    }
    VerifierFail("%s on %p, which holds no initialised dispatcher object (never initialised, "
                 "freed, or copied)",
                 call, static_cast<const void*>(header));
    return false;
}

LONG SetSignalState(DISPATCHER_HEADER* header, LONG state) {
    LONG previous;
    {
        std::lock_guard<std::mutex> lock(Lock());
        previous = header->SignalState;
        header->SignalState = state;
    }
    if (state > 0) {
        Signalled().notify_all();
    }
    return previous;
}

LONG ReadSignalState(const DISPATCHER_HEADER* header) {
    std::lock_guard<std::mutex> lock(Lock());
    return header->SignalState;
}

} // namespace sim::dispatcher

using namespace sim::dispatcher;

namespace {

LONG WaitFor(DISPATCHER_HEADER* header, bool canBlock,
             std::chrono::steady_clock::time_point deadline) {
    PKTHREAD me = KeGetCurrentThread();
    std::unique_lock<std::mutex> lock(Lock());
    for (;;) {
        if (TrySatisfy(header, me)) {
            return STATUS_SUCCESS;
        }
        if (!canBlock) {
            return STATUS_TIMEOUT;
        }
        if (deadline == std::chrono::steady_clock::time_point::max()) {
            Signalled().wait(lock);
        } else if (Signalled().wait_until(lock, deadline) == std::cv_status::timeout) {
            return TrySatisfy(header, me) ? STATUS_SUCCESS : STATUS_TIMEOUT;
        }
    }
}

} // namespace

LONG KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                           PLARGE_INTEGER timeout, const char* file, int line) {
    const bool canBlock = timeout == nullptr || timeout->QuadPart != 0;
    if (canBlock && KeGetCurrentIrql() > APC_LEVEL) {
        const int held = sim::HeldSpinLocks();
        sim::VerifierFail("KeWaitForSingleObject %s at %s%s",
                          timeout ? "with a timeout" : "without timeout",
                          sim::IrqlName(KeGetCurrentIrql()),
                          held > 0 ? " while holding a spin lock"
                                   : "; a wait that can block "
                                     "requires APC_LEVEL or lower");
    } else {
        sim::CheckIrqlAtMost(DISPATCH_LEVEL, "KeWaitForSingleObject");
    }
    auto* header = static_cast<DISPATCHER_HEADER*>(object);
    if (!CheckHeader(header, "KeWaitForSingleObject")) {
        return STATUS_INVALID_PARAMETER;
    }

    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline = Clock::time_point::max();
    if (timeout != nullptr) {
        LONGLONG relative = timeout->QuadPart;
        if (relative > 0) {
            LARGE_INTEGER now;
            KeQuerySystemTime(&now);
            relative = now.QuadPart - relative; // negative while the time lies ahead
        }
        deadline = Clock::now() + std::chrono::nanoseconds(-relative * 100);
    }

    // A wait for a mutex is a lock acquisition; one that cannot block cannot deadlock.
    const bool mutex = header->Type == MutantObject;
    if (mutex && canBlock) {
        sim::lock_order::Taking(object, sim::lock_order::Kind::Mutex, file, line);
    }
    const LONG status = WaitFor(header, canBlock, deadline);
    if (mutex && status == STATUS_SUCCESS) {
        sim::lock_order::Taken(object, sim::lock_order::Kind::Mutex, file, line);
    }
    return status;
}

VOID KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state) {
    InitializeHeader(&event->Header,
                     type == NotificationEvent ? EventNotificationObject
                                               : EventSynchronizationObject,
                     state ? 1 : 0);
}

LONG KeSetEvent(PRKEVENT event, LONG, BOOLEAN) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "KeSetEvent");
    if (!CheckHeader(&event->Header, "KeSetEvent")) {
        return 0;
    }
    return SetSignalState(&event->Header, 1);
}

LONG KeResetEvent(PRKEVENT event) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "KeResetEvent");
    if (!CheckHeader(&event->Header, "KeResetEvent")) {
        return 0;
    }
    return SetSignalState(&event->Header, 0);
}

VOID KeClearEvent(PRKEVENT event) {
    KeResetEvent(event);
}

LONG KeReadStateEvent(PRKEVENT event) {
    if (!CheckHeader(&event->Header, "KeReadStateEvent")) {
        return 0;
    }
    return ReadSignalState(&event->Header);
}

VOID KeInitializeMutex(PRKMUTEX mutex, ULONG) {
    sim::lock_order::Born(mutex, sim::lock_order::Kind::Mutex);
    InitializeHeader(&mutex->Header, MutantObject, 1);
    mutex->MutantListEntry.Flink = mutex->MutantListEntry.Blink = nullptr;
    mutex->OwnerThread = nullptr;
    mutex->Abandoned = FALSE;
    mutex->ApcDisable = 1;
}

LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "KeReleaseMutex");
    if (!CheckHeader(&mutex->Header, "KeReleaseMutex")) {
        return 0;
    }
    PKTHREAD me = KeGetCurrentThread();
    LONG previous;
    {
        std::lock_guard<std::mutex> lock(Lock());
        if (mutex->OwnerThread != me) {
            sim::VerifierFail("KeReleaseMutex of mutex %p that this thread does not own",
                              static_cast<void*>(mutex));
            return mutex->Header.SignalState;
        }
        previous = mutex->Header.SignalState++;
        sim::lock_order::Released(mutex);
        if (mutex->Header.SignalState == 1) {
            mutex->OwnerThread = nullptr;
            --t_ownedMutexes;
            KeLeaveCriticalRegion();
        }
    }
    Signalled().notify_all();
    return previous;
}

LONG KeReadStateMutex(PRKMUTEX mutex) {
    if (!CheckHeader(&mutex->Header, "KeReadStateMutex")) {
        return 0;
    }
    return ReadSignalState(&mutex->Header);
}

namespace sim {
int OwnedMutexes() {
    return t_ownedMutexes;
}
} // namespace sim
