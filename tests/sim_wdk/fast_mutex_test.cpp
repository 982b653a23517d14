#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sim/wdk/sim_wdk.h"
#include "tests/support/verified_test.h"

namespace {

TEST(FastMutex, ExcludesOtherThreads) {
    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    // A read-modify-write split in two plain steps: without exclusion, increments get lost.
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                ExAcquireFastMutex(&mutex);
                const long seen = counter;
                counter = seen + 1;
                ExReleaseFastMutex(&mutex);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, 4 * 20000);
}

TEST(FastMutex, RecursiveAcquireAndForeignReleaseAreReported) {
    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    ExAcquireFastMutex(&mutex);
    {
        sim::testing::VerifierCapture capture;
        ExAcquireFastMutex(&mutex);
        EXPECT_TRUE(capture.Saw("already owns it"));
    }
    {
        sim::testing::VerifierCapture capture;
        std::thread([&] { ExReleaseFastMutex(&mutex); }).join();
        EXPECT_TRUE(capture.Saw("does not own it"));
    }
    // The foreign release left the lock with its owner, who can still release it.
    ExReleaseFastMutex(&mutex);
    sim::testing::VerifierCapture capture;
    ExReleaseFastMutex(&mutex);
    EXPECT_TRUE(capture.Saw("does not own it"));
}

} // namespace
