#include <gtest/gtest.h>

#include <chrono>

#include "sim/wdk/sim_wdk.h"
#include "tests/sim_wdk/system_thread.h"
#include "tests/support/verified_test.h"

namespace {

using sim::testing::RunSystemThread;
using sim::testing::VerifierCapture;
using ThreadsTest = sim::testing::VerifiedTest;

struct Handshake {
    KEVENT started;
    KEVENT proceed;
    LONG value = 0;
};

TEST_F(ThreadsTest, SystemThreadRunsAtPassiveAndItsObjectSignalsItsEnd) {
    Handshake handshake;
    KeInitializeEvent(&handshake.started, NotificationEvent, FALSE);
    KeInitializeEvent(&handshake.proceed, NotificationEvent, FALSE);
    HANDLE handle;
    ASSERT_EQ(PsCreateSystemThread(
                  &handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                  [](PVOID context) {
                      auto* h = static_cast<Handshake*>(context);
                      h->value = KeGetCurrentIrql() == PASSIVE_LEVEL ? 1 : -1;
                      KeSetEvent(&h->started, IO_NO_INCREMENT, FALSE);
                      KeWaitForSingleObject(&h->proceed, Executive, KernelMode, FALSE, nullptr);
                      PsTerminateSystemThread(STATUS_SUCCESS);
                      h->value = 99; // never reached
                  },
                  &handshake),
              STATUS_SUCCESS);
    PVOID thread;
    ASSERT_EQ(
        ObReferenceObjectByHandle(handle, SYNCHRONIZE, *PsThreadType, KernelMode, &thread, nullptr),
        STATUS_SUCCESS);
    ZwClose(handle);
    KeWaitForSingleObject(&handshake.started, Executive, KernelMode, FALSE, nullptr);
    LARGE_INTEGER zero{};
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
    KeSetEvent(&handshake.proceed, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    ObDereferenceObject(thread);
    EXPECT_EQ(handshake.value, 1);
}

TEST_F(ThreadsTest, ThreadEndingWithKernelStateHeldIsReported) {
    struct Case {
        PKSTART_ROUTINE routine;
        const char* message;
    };
    static KSPIN_LOCK lock;
    static KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    const Case cases[] = {
        {[](PVOID) {
             KIRQL old;
             KeInitializeSpinLock(&lock);
             KeAcquireSpinLock(&lock, &old);
         },
         "holding 1 spin lock"},
        {[](PVOID) {
             KIRQL old;
             KeRaiseIrql(APC_LEVEL, &old);
         },
         "ended at APC_LEVEL"},
        {[](PVOID) { KeEnterCriticalRegion(); }, "inside 1 critical region"},
        {[](PVOID) { KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr); },
         "owning 1 mutex"},
        {[](PVOID) {
             static KFLOATING_SAVE save;
             KeSaveFloatingPointState(&save);
         },
         "floating-point state"},
    };
    for (const Case& c : cases) {
        VerifierCapture capture;
        RunSystemThread(c.routine, nullptr);
        EXPECT_TRUE(capture.Saw(c.message)) << c.message;
    }
}

TEST_F(ThreadsTest, HandlesAreCheckedAndLeaksNameTheirCreator) {
    HANDLE handle;
    ASSERT_EQ(PsCreateSystemThread(
                  &handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, [](PVOID) {}, nullptr),
              STATUS_SUCCESS);
    PVOID object = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, *CmKeyObjectType, KernelMode, &object, nullptr),
              STATUS_OBJECT_TYPE_MISMATCH);
    EXPECT_EQ(object, nullptr);
    {
        VerifierCapture capture;
        EXPECT_GE(sim::objects::ReportLeaksSince(0, "check"), 1u);
        EXPECT_TRUE(capture.Saw("threads_test.cpp"));
        EXPECT_TRUE(capture.Saw("was never closed"));
    }
    // Wait for it before closing, so no running thread outlives the test.
    ASSERT_EQ(ObReferenceObjectByHandle(handle, 0, *PsThreadType, KernelMode, &object, nullptr),
              STATUS_SUCCESS);
    KeWaitForSingleObject(object, Executive, KernelMode, FALSE, nullptr);
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    {
        VerifierCapture capture;
        EXPECT_EQ(ZwClose(handle), STATUS_INVALID_HANDLE);
        EXPECT_TRUE(capture.Saw("closed twice"));
        ObDereferenceObject(object);
        ObDereferenceObject(object);
        EXPECT_TRUE(capture.Saw("released too often"));
    }
}

// Relative waits shrink only while a ShortDelays lives; absolute ones keep their deadline.
TEST_F(ThreadsTest, ShortDelaysShortenRelativeWaitsWhileTheyLive) {
    auto waited = [](LONGLONG interval) {
        LARGE_INTEGER value;
        value.QuadPart = interval;
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(KeDelayExecutionThread(KernelMode, FALSE, &value), STATUS_SUCCESS);
        return std::chrono::steady_clock::now() - begin;
    };
    constexpr LONGLONG kSecond = 10 * 1000 * 1000;
    {
        sim::ShortDelays shortDelays;
        EXPECT_LT(waited(-2 * kSecond), std::chrono::milliseconds(1000));
        LARGE_INTEGER now;
        KeQuerySystemTime(&now);
        EXPECT_GE(waited(now.QuadPart + kSecond / 5), std::chrono::milliseconds(150));
    }
    EXPECT_GE(waited(-kSecond / 5), std::chrono::milliseconds(200));
}

TEST_F(ThreadsTest, TerminatingAThreadTheKernelDidNotStartIsReported) {
    VerifierCapture capture;
    EXPECT_EQ(PsTerminateSystemThread(STATUS_SUCCESS), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(capture.Saw("not a system thread"));
}

} // namespace
