#include <gtest/gtest.h>

#include "sim/wdk/sim_wdk.h"
#include "tests/support/verified_test.h"

namespace {

constexpr ULONG kTagA = sim::pool::Tag("Tsta");
constexpr ULONG kTagB = sim::pool::Tag("Tstb");

using PoolTest = sim::testing::VerifiedTest;

TEST_F(PoolTest, CountsPerTagAndFillsFreshBlocksWithAPattern) {
    const auto before = sim::pool::Counters(kTagA);
    auto* block = static_cast<uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, 100, kTagA));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
    EXPECT_NE(block[0], 0) << "fresh pool must not look zeroed";
    auto during = sim::pool::Counters(kTagA);
    EXPECT_EQ(during.liveBlocks, before.liveBlocks + 1);
    EXPECT_EQ(during.liveBytes, before.liveBytes + 100);
    ExFreePoolWithTag(block, kTagA);
    EXPECT_EQ(sim::pool::Counters(kTagA).frees, before.frees + 1);
}

TEST_F(PoolTest, FreeWithAnotherTagIsReportedWithBothTagsAndTheSite) {
    void* block = ExAllocatePoolWithTag(NonPagedPool, 24, kTagA);
    sim::testing::VerifierCapture capture;
    ExFreePoolWithTag(block, kTagB);
    ASSERT_EQ(capture.Count(), 1u);
    EXPECT_TRUE(capture.Saw("'Tsta'"));
    EXPECT_TRUE(capture.Saw("'Tstb'"));
    EXPECT_TRUE(capture.Saw("pool_test.cpp"));
    EXPECT_TRUE(capture.Saw("24 bytes"));
}

TEST_F(PoolTest, DoubleFreeAndForeignFreeAreReported) {
    void* block = ExAllocatePoolWithTag(NonPagedPool, 8, kTagA);
    ExFreePoolWithTag(block, kTagA);
    sim::testing::VerifierCapture capture;
    ExFreePoolWithTag(block, kTagA);
    EXPECT_TRUE(capture.Saw("double free"));
    int local = 0;
    ExFreePool(&local);
    EXPECT_TRUE(capture.Saw("never gave out"));
}

TEST_F(PoolTest, OverrunPastTheBlockIsReportedAtFree) {
    auto* block = static_cast<uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, 10, kTagA));
    sim::testing::VerifierCapture capture;
    block[10] = 0; // one byte past the end, inside the guard
    ExFreePoolWithTag(block, kTagA);
    EXPECT_TRUE(capture.Saw("written past its end"));
}

TEST_F(PoolTest, LeaksAreReportedWithTagSizeAndSite) {
    const uint64_t mark = sim::pool::Mark();
    void* block = ExAllocatePoolWithTag(NonPagedPool, 77, kTagB);
    {
        sim::testing::VerifierCapture capture;
        EXPECT_EQ(sim::pool::ReportLeaksSince(mark, "unload"), 1u);
        EXPECT_TRUE(capture.Saw("unload: leaked pool block"));
        EXPECT_TRUE(capture.Saw("77 bytes"));
        EXPECT_TRUE(capture.Saw("'Tstb'"));
    }
    ExFreePool(block);
}

TEST_F(PoolTest, LowResourcesSimulationFailsTheNthAllocationOrATag) {
    sim::pool::FailNthAllocation(2);
    void* first = ExAllocatePoolWithTag(NonPagedPool, 8, kTagA);
    void* second = ExAllocatePoolWithTag(NonPagedPool, 8, kTagA);
    void* third = ExAllocatePoolWithTag(NonPagedPool, 8, kTagA);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    ExFreePoolWithTag(first, kTagA);
    ExFreePoolWithTag(third, kTagA);

    sim::pool::FailAllocationsWithTag(kTagB);
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, kTagB), nullptr);
    void* other = ExAllocatePoolWithTag(NonPagedPool, 8, kTagA);
    EXPECT_NE(other, nullptr);
    ExFreePoolWithTag(other, kTagA);
    sim::pool::ClearInjectedFailures();
    void* again = ExAllocatePoolWithTag(NonPagedPool, 8, kTagB);
    EXPECT_NE(again, nullptr);
    ExFreePoolWithTag(again, kTagB);
}

} // namespace
