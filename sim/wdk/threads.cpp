#include "sim/wdk/threads.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "sim/wdk/clock.h"
#include "sim/wdk/critical_region.h"
#include "sim/wdk/events.h"
#include "sim/wdk/extended_state.h"
#include "sim/wdk/float_state.h"
#include "sim/wdk/mutex.h"
#include "sim/wdk/object_manager.h"
#include "sim/wdk/spin_lock.h"
#include "sim/wdk/verifier.h"

// The thread object: waitable through its dispatcher header, signalled when the thread ends.
struct _KTHREAD {
    sim::objects::Object object;
    bool system = false; // created by PsCreateSystemThread (else a host thread seen by the kernel)
};

namespace {

std::atomic<int> g_runningThreads{0};
std::atomic<int> g_shortDelays{0}; // ShortDelays alive
constexpr LONGLONG kShortDelayDivisor = 100;

// Thrown by PsTerminateSystemThread and caught where the thread began: the platform's thread
// exit does not return into the driver.
struct ThreadExit {};

void DestroyThread(sim::objects::Object* object) {
    delete reinterpret_cast<_KTHREAD*>(object);
}

// Host threads that call into the kernel without having been created by it (the test's own
// threads, the bus's worker threads) get an object of their own, never waited on.
struct ForeignThread {
    _KTHREAD thread;
    ForeignThread() {
        thread.object.kind = sim::objects::Kind::Thread;
        sim::dispatcher::InitializeHeader(&thread.object.header, ThreadObject, 0);
    }
};

thread_local _KTHREAD* t_current = nullptr;

_KTHREAD* Current() {
    if (t_current == nullptr) {
        thread_local ForeignThread foreign;
        t_current = &foreign.thread;
    }
    return t_current;
}

void CheckThreadExit(_KTHREAD* thread) {
    const char* site = thread->object.file;
    const int line = thread->object.line;
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        sim::VerifierFail("system thread created at %s:%d ended at %s", site, line,
                          sim::IrqlName(KeGetCurrentIrql()));
        KeLowerIrql(PASSIVE_LEVEL);
    }
    if (sim::HeldSpinLocks() > 0) {
        sim::VerifierFail("system thread created at %s:%d ended holding %d spin lock(s)", site,
                          line, sim::HeldSpinLocks());
    }
    if (sim::OwnedMutexes() > 0) {
        sim::VerifierFail("system thread created at %s:%d ended owning %d mutex(es)", site, line,
                          sim::OwnedMutexes());
    }
    const int regions = sim::CriticalRegionDepth() - sim::OwnedMutexes();
    if (regions > 0) {
        sim::VerifierFail("system thread created at %s:%d ended inside %d critical region(s)", site,
                          line, regions);
    }
    if (sim::OpenFloatingPointSaves() > 0) {
        sim::VerifierFail("system thread created at %s:%d ended with %d floating-point state(s) "
                          "saved and not restored",
                          site, line, sim::OpenFloatingPointSaves());
    }
    if (sim::OpenExtendedStateSaves() > 0) {
        sim::VerifierFail("system thread created at %s:%d ended with %d extended processor "
                          "state(s) saved and not restored",
                          site, line, sim::OpenExtendedStateSaves());
    }
}

void RunThread(_KTHREAD* thread, PKSTART_ROUTINE routine, PVOID context) {
    t_current = thread;
    try {
        routine(context);
    } catch (const ThreadExit&) {
    }
    CheckThreadExit(thread);
    g_runningThreads.fetch_sub(1);
    thread->object.running.store(false);
    t_current = nullptr;
    sim::objects::SignalAndDereferenceInternal(&thread->object);
}

} // namespace

NTSTATUS PsCreateSystemThread(PHANDLE threadHandle, ULONG, POBJECT_ATTRIBUTES, HANDLE,
                              PCLIENT_ID clientId, PKSTART_ROUTINE startRoutine, PVOID startContext,
                              const char* file, int line) {
    if (!sim::CheckIrqlIs(PASSIVE_LEVEL, "PsCreateSystemThread")) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    auto* thread = new _KTHREAD;
    thread->system = true;
    sim::dispatcher::InitializeHeader(&thread->object.header, ThreadObject, 0);
    sim::objects::Register(&thread->object, sim::objects::Kind::Thread, "system thread",
                           &DestroyThread, file, line);
    // The creator's reference becomes the handle's; the running thread holds one more.
    *threadHandle = sim::objects::CreateHandle(&thread->object, file, line);
    sim::objects::Dereference(&thread->object);
    sim::objects::ReferenceInternal(&thread->object);
    thread->object.running.store(true);
    if (clientId != nullptr) {
        clientId->UniqueProcess = reinterpret_cast<HANDLE>(4);
        clientId->UniqueThread = *threadHandle;
    }
    g_runningThreads.fetch_add(1);
    std::thread(RunThread, thread, startRoutine, startContext).detach();
    return STATUS_SUCCESS;
}

NTSTATUS PsTerminateSystemThread(NTSTATUS) {
    if (t_current == nullptr || !t_current->system) {
        sim::VerifierFail("PsTerminateSystemThread called on a thread that is not a system thread");
        return STATUS_INVALID_PARAMETER;
    }
    throw ThreadExit{};
}

PETHREAD PsGetCurrentThread() {
    return Current();
}
PKTHREAD KeGetCurrentThread() {
    return Current();
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval) {
    sim::CheckIrqlAtMost(APC_LEVEL, "KeDelayExecutionThread");
    LONGLONG relative = interval->QuadPart;
    if (relative > 0) {
        LARGE_INTEGER now;
        KeQuerySystemTime(&now);
        relative = now.QuadPart - relative;
    }
    if (relative < 0 && interval->QuadPart < 0 && g_shortDelays.load() > 0) {
        relative /= kShortDelayDivisor;
    }
    if (relative < 0) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(-relative * 100));
    }
    return STATUS_SUCCESS;
}

namespace sim {
int RunningSystemThreads() {
    return g_runningThreads.load();
}

ShortDelays::ShortDelays() {
    ++g_shortDelays;
}
ShortDelays::~ShortDelays() {
    --g_shortDelays;
}
} // namespace sim
