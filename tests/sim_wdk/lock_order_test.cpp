// The lock-order check: two locks taken in both orders are reported with both acquisition
// sites the first time it happens, on one thread or across threads, without any deadlock; a
// consistent order, a kernel mutex's recursion and locks reborn at a recycled address are not.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "sim/wdk/lock_order.h"
#include "sim/wdk/sim_wdk.h"
#include "tests/support/verified_test.h"

namespace {

using sim::testing::VerifierCapture;
using LockOrderTest = sim::testing::VerifiedTest;

constexpr ULONG kTag = sim::pool::Tag("Lock");
const std::string kThisFile = "tests/sim_wdk/lock_order_test.cpp:";

std::string Site(int line) {
    return kThisFile + std::to_string(line);
}

void Take(KMUTEX& mutex, int* line = nullptr, int here = __builtin_LINE()) {
    if (line != nullptr) {
        *line = here;
    }
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr, __FILE__, here);
}

void Give(KMUTEX& mutex) {
    KeReleaseMutex(&mutex, FALSE);
}

struct TwoMutexes {
    TwoMutexes() {
        KeInitializeMutex(&a, 0);
        KeInitializeMutex(&b, 0);
    }
    KMUTEX a;
    KMUTEX b;
};

TEST_F(LockOrderTest, BothOrdersOnOneThreadAreReportedOnceWithAllFourSites) {
    TwoMutexes locks;
    FAST_MUTEX fast;
    ExInitializeFastMutex(&fast);
    int aFirst = 0, bSecond = 0, bFirst = 0, aSecond = 0;
    Take(locks.a, &aFirst);
    Take(locks.b, &bSecond);
    Give(locks.b);
    Give(locks.a);

    VerifierCapture capture;
    const int before = sim::lock_order::Inversions();
    Take(locks.b, &bFirst);
    Take(locks.a, &aSecond);
    Give(locks.a);
    Give(locks.b);
    ASSERT_EQ(capture.Count(), 1u);
    const std::string report = capture.Messages()[0];
    EXPECT_NE(report.find("lock order inversion"), std::string::npos) << report;
    for (int line : {aFirst, bSecond, bFirst, aSecond}) {
        EXPECT_NE(report.find(Site(line)), std::string::npos) << line << ": " << report;
    }
    EXPECT_EQ(sim::lock_order::Inversions(), before + 1);

    // The same pair again is not reported twice; a fast mutex taken inside it in both orders is
    // a new pair.
    Take(locks.b);
    Take(locks.a);
    Give(locks.a);
    Give(locks.b);
    EXPECT_EQ(capture.Count(), 1u);
    Take(locks.a);
    const int fastSecond = __LINE__ + 1;
    ExAcquireFastMutex(&fast);
    ExReleaseFastMutex(&fast);
    Give(locks.a);
    const int fastFirst = __LINE__ + 1;
    ExAcquireFastMutex(&fast);
    Take(locks.a);
    Give(locks.a);
    ExReleaseFastMutex(&fast);
    ASSERT_EQ(capture.Count(), 2u);
    EXPECT_TRUE(capture.Saw(Site(fastSecond)));
    EXPECT_TRUE(capture.Saw(Site(fastFirst)));
    EXPECT_TRUE(capture.Saw("fast mutex"));
}

TEST_F(LockOrderTest, OppositeOrdersOnTwoThreadsAreReportedThoughTheyNeverOverlapped) {
    TwoMutexes locks;
    KSPIN_LOCK spin;
    KeInitializeSpinLock(&spin);
    int spinUnderA = 0;
    std::thread([&] {
        Take(locks.a);
        KIRQL irql;
        spinUnderA = __LINE__ + 1;
        KeAcquireSpinLock(&spin, &irql);
        KeReleaseSpinLock(&spin, irql);
        Give(locks.a);
    }).join();
    VerifierCapture capture;
    std::thread([&] {
        // A mutex cannot be waited for under a spin lock; a wait that cannot block can.
        KIRQL irql;
        KeAcquireSpinLock(&spin, &irql);
        LARGE_INTEGER now{};
        EXPECT_EQ(KeWaitForSingleObject(&locks.a, Executive, KernelMode, FALSE, &now),
                  STATUS_SUCCESS);
        Give(locks.a);
        KeReleaseSpinLock(&spin, irql);
    }).join();
    // A wait that cannot block cannot deadlock, so it orders nothing.
    EXPECT_EQ(capture.Count(), 0u);
    std::thread([&] {
        Take(locks.b);
        Take(locks.a);
        Give(locks.a);
        Give(locks.b);
    }).join();
    std::thread([&] {
        Take(locks.a);
        Take(locks.b);
        Give(locks.b);
        Give(locks.a);
    }).join();
    EXPECT_EQ(capture.Count(), 1u);
    EXPECT_TRUE(capture.Saw("lock order inversion: kernel mutex"));
    EXPECT_FALSE(capture.Saw(Site(spinUnderA)));
}

TEST_F(LockOrderTest, ThreadsKeepingOneOrderAreNeverReported) {
    TwoMutexes locks;
    KSPIN_LOCK spin;
    KeInitializeSpinLock(&spin);
    FAST_MUTEX fast;
    ExInitializeFastMutex(&fast);
    const int before = sim::lock_order::Inversions();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 200; ++round) {
                Take(locks.a);
                if (round % 2 == 0) {
                    Take(locks.b);
                }
                ExAcquireFastMutex(&fast);
                KIRQL irql;
                KeAcquireSpinLock(&spin, &irql);
                KeReleaseSpinLock(&spin, irql);
                ExReleaseFastMutex(&fast);
                if (round % 2 == 0) {
                    Give(locks.b);
                }
                Give(locks.a);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(sim::lock_order::Inversions(), before);
}

TEST_F(LockOrderTest, AMutexTakenAgainByItsOwnerAddsNoOrder) {
    TwoMutexes locks;
    VerifierCapture capture;
    Take(locks.a);
    Take(locks.b);
    Take(locks.a); // recursion: a is held already, so b before a is no order
    Give(locks.a);
    Give(locks.b);
    Give(locks.a);
    Take(locks.a);
    Take(locks.b);
    Give(locks.b);
    Give(locks.a);
    EXPECT_EQ(capture.Count(), 0u);
}

TEST_F(LockOrderTest, LocksBornAgainAtARecycledAddressStartWithNoOrder) {
    VerifierCapture capture;
    // Initialised again at the same address, as a new object on a reused stack or block is.
    TwoMutexes locks;
    Take(locks.a);
    Take(locks.b);
    Give(locks.b);
    Give(locks.a);
    KeInitializeMutex(&locks.a, 0);
    KeInitializeMutex(&locks.b, 0);
    Take(locks.b);
    Take(locks.a);
    Give(locks.a);
    Give(locks.b);
    EXPECT_EQ(capture.Count(), 0u);

    // Freed with its pool block: whatever lock later lies at that address has no order yet,
    // initialised or not.
    auto* block = static_cast<KSPIN_LOCK*>(ExAllocatePoolWithTag(NonPagedPool, 64, kTag));
    ASSERT_NE(block, nullptr);
    KeInitializeSpinLock(block);
    Take(locks.a);
    KIRQL irql;
    KeAcquireSpinLock(block, &irql);
    KeReleaseSpinLock(block, irql);
    Give(locks.a);
    ExFreePoolWithTag(block, kTag);
    sim::lock_order::Taking(block, sim::lock_order::Kind::SpinLock, __FILE__, __LINE__);
    sim::lock_order::Taken(block, sim::lock_order::Kind::SpinLock, __FILE__, __LINE__);
    Take(locks.a);
    Give(locks.a);
    sim::lock_order::Released(block);
    EXPECT_EQ(capture.Count(), 0u);
}

} // namespace
