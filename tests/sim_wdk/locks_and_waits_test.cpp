#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sim/wdk/sim_wdk.h"
#include "tests/support/verified_test.h"

namespace {

using sim::testing::VerifierCapture;
using LocksTest = sim::testing::VerifiedTest;

LARGE_INTEGER RelativeMs(LONGLONG ms) {
    LARGE_INTEGER t;
    t.QuadPart = -ms * 10000;
    return t;
}

TEST_F(LocksTest, IrqlRaisesAndLowersAndRejectsTheWrongDirection) {
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    {
        VerifierCapture capture;
        KIRQL ignored;
        KeRaiseIrql(APC_LEVEL, &ignored);
        EXPECT_TRUE(capture.Saw("KeRaiseIrql to APC_LEVEL from the higher DISPATCH_LEVEL"));
        KeLowerIrql(DISPATCH_LEVEL);
        KeLowerIrql(HIGH_LEVEL);
        EXPECT_TRUE(capture.Saw("KeLowerIrql to HIGH_LEVEL"));
    }
    KeLowerIrql(PASSIVE_LEVEL);
}

TEST_F(LocksTest, SpinLockRaisesToDispatchAndChecksItsHolder) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    EXPECT_EQ(sim::HeldSpinLocks(), 1);
    {
        VerifierCapture capture;
        KeAcquireSpinLockAtDpcLevel(&lock); // would deadlock on the platform
        EXPECT_TRUE(capture.Saw("already holds (deadlock)"));
        // Another thread releasing it.
        std::thread([&] {
            KIRQL irql;
            KeRaiseIrql(DISPATCH_LEVEL, &irql);
            KeReleaseSpinLockFromDpcLevel(&lock);
            KeLowerIrql(irql);
        }).join();
        EXPECT_TRUE(capture.Saw("another thread holds it"));
    }
    KeReleaseSpinLock(&lock, old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    EXPECT_EQ(sim::HeldSpinLocks(), 0);

    VerifierCapture capture;
    KeReleaseSpinLock(&lock, PASSIVE_LEVEL);
    EXPECT_TRUE(capture.Saw("it is free"));
    KeAcquireSpinLockAtDpcLevel(&lock);
    EXPECT_TRUE(capture.Saw("KeAcquireSpinLockAtDpcLevel called at PASSIVE_LEVEL"));
    KeInitializeSpinLock(&lock);
}

TEST_F(LocksTest, BlockingWaitsAboveApcLevelAreReported) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    {
        VerifierCapture capture;
        LARGE_INTEGER zero{};
        EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero),
                  STATUS_SUCCESS);
        EXPECT_EQ(capture.Count(), 0u) << "a zero timeout is a poll, allowed at DISPATCH_LEVEL";
        LARGE_INTEGER timeout = RelativeMs(10);
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout);
        EXPECT_TRUE(capture.Saw("while holding a spin lock"));
        KeDelayExecutionThread(KernelMode, FALSE, &zero);
        EXPECT_TRUE(capture.Saw("KeDelayExecutionThread called at DISPATCH_LEVEL"));
        HANDLE handle;
        EXPECT_FALSE(NT_SUCCESS(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr,
                                                     nullptr, nullptr, nullptr)));
        EXPECT_TRUE(capture.Saw("PsCreateSystemThread called at DISPATCH_LEVEL"));
        void* block = ExAllocatePoolWithTag(PagedPool, 8, sim::pool::Tag("Tstp"));
        EXPECT_TRUE(capture.Saw("paged pool allocation"));
        ExFreePoolWithTag(block, sim::pool::Tag("Tstp"));
    }
    KeReleaseSpinLock(&lock, old);
}

TEST_F(LocksTest, WaitsOnUninitialisedOrCopiedEventsAreReported) {
    KEVENT event;
    std::memset(&event, 0, sizeof event);
    VerifierCapture capture;
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    EXPECT_TRUE(capture.Saw("no initialised dispatcher object"));
    KEVENT original;
    KeInitializeEvent(&original, NotificationEvent, TRUE);
    KEVENT copy = original;
    LARGE_INTEGER zero{};
    KeWaitForSingleObject(&copy, Executive, KernelMode, FALSE, &zero);
    EXPECT_EQ(capture.Count(), 2u);
}

TEST_F(LocksTest, NotificationAndSynchronizationEventsAcrossThreads) {
    KEVENT notification, synchronization, go;
    KeInitializeEvent(&notification, NotificationEvent, FALSE);
    KeInitializeEvent(&synchronization, SynchronizationEvent, FALSE);
    KeInitializeEvent(&go, NotificationEvent, FALSE);

    std::atomic<int> released{0};
    std::thread waiters[2];
    for (auto& waiter : waiters) {
        waiter = std::thread([&] {
            KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, nullptr);
            released.fetch_add(1);
        });
    }
    EXPECT_EQ(KeSetEvent(&notification, IO_NO_INCREMENT, FALSE), 0);
    for (auto& waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(released.load(), 2);
    EXPECT_EQ(KeReadStateEvent(&notification), 1) << "stays signalled until reset";
    EXPECT_EQ(KeResetEvent(&notification), 1);

    KeSetEvent(&synchronization, IO_NO_INCREMENT, FALSE);
    LARGE_INTEGER zero{};
    EXPECT_EQ(KeWaitForSingleObject(&synchronization, Executive, KernelMode, FALSE, &zero),
              STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&synchronization, Executive, KernelMode, FALSE, &zero),
              STATUS_TIMEOUT)
        << "a synchronization event resets when it releases a waiter";

    LARGE_INTEGER shortly = RelativeMs(5);
    EXPECT_EQ(KeWaitForSingleObject(&go, Executive, KernelMode, FALSE, &shortly), STATUS_TIMEOUT);
}

TEST_F(LocksTest, MutexIsRecursiveDisablesApcsAndChecksItsOwner) {
    KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    EXPECT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_TRUE(KeAreApcsDisabled());
    std::thread([&] {
        LARGE_INTEGER zero{};
        EXPECT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &zero),
                  STATUS_TIMEOUT);
        VerifierCapture capture;
        KeReleaseMutex(&mutex, FALSE);
        EXPECT_TRUE(capture.Saw("does not own"));
    }).join();
    KeReleaseMutex(&mutex, FALSE);
    EXPECT_EQ(sim::OwnedMutexes(), 1);
    KeReleaseMutex(&mutex, FALSE);
    EXPECT_EQ(sim::OwnedMutexes(), 0);
    EXPECT_FALSE(KeAreApcsDisabled());
    EXPECT_EQ(KeReadStateMutex(&mutex), 1);
}

TEST_F(LocksTest, FastMutexHolderRunsAtApcLevel) {
    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    ExAcquireFastMutex(&mutex);
    EXPECT_EQ(KeGetCurrentIrql(), APC_LEVEL);
    {
        VerifierCapture capture;
        HANDLE handle;
        PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, nullptr,
                             nullptr);
        EXPECT_TRUE(capture.Saw("PsCreateSystemThread called at APC_LEVEL"));
    }
    ExReleaseFastMutex(&mutex);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);

    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    {
        VerifierCapture capture;
        ExAcquireFastMutex(&mutex);
        EXPECT_TRUE(capture.Saw("ExAcquireFastMutex called at DISPATCH_LEVEL"));
        ExReleaseFastMutex(&mutex);
    }
    KeLowerIrql(old);
}

} // namespace
