#include <gtest/gtest.h>

#include "sim/wdk/sim_wdk.h"
#include "tests/support/verified_test.h"

namespace {

TEST(CriticalRegion, NestsPerThreadAndReportsAnUnmatchedLeave) {
    KeEnterCriticalRegion();
    KeEnterCriticalRegion();
    EXPECT_EQ(sim::CriticalRegionDepth(), 2);
    EXPECT_TRUE(KeAreApcsDisabled());
    KeLeaveCriticalRegion();
    KeLeaveCriticalRegion();
    sim::testing::VerifierCapture capture;
    KeLeaveCriticalRegion();
    EXPECT_TRUE(capture.Saw("without a matching KeEnterCriticalRegion"));
}

TEST(FloatingPointState, SaveCanBeMadeToFailAndRestoreMustMatchASave) {
    KFLOATING_SAVE save;
    ASSERT_EQ(KeSaveFloatingPointState(&save), STATUS_SUCCESS);
    EXPECT_EQ(KeRestoreFloatingPointState(&save), STATUS_SUCCESS);

    sim::SetFloatingPointSaveFails(true);
    EXPECT_FALSE(NT_SUCCESS(KeSaveFloatingPointState(&save)));
    sim::SetFloatingPointSaveFails(false);

    sim::testing::VerifierCapture capture;
    KFLOATING_SAVE never;
    never.Reserved[0] = 0;
    KeRestoreFloatingPointState(&never);
    EXPECT_TRUE(capture.Saw("not saved"));
}

TEST(Interlocked, CompareExchangeReturnsTheInitialValue) {
    LONG value = 5;
    EXPECT_EQ(InterlockedCompareExchange(&value, 9, 4), 5);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(InterlockedCompareExchange(&value, 9, 5), 5);
    EXPECT_EQ(value, 9);
    EXPECT_EQ(InterlockedIncrement(&value), 10);
    EXPECT_EQ(InterlockedExchange(&value, 1), 10);
}

TEST(StatusNames, KnownAndUnknownStatuses) {
    EXPECT_STREQ(sim::StatusName(STATUS_TIMEOUT), "STATUS_TIMEOUT");
    EXPECT_STREQ(sim::StatusName(STATUS_SUCCESS), "STATUS_SUCCESS");
    EXPECT_STREQ(sim::StatusName(static_cast<NTSTATUS>(0xC0DE0001u)), "0xC0DE0001");
}

} // namespace
