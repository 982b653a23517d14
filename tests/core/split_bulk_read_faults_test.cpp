#include <gtest/gtest.h>

#include <cstdio>

#include "driver/pool_tags.h"
#include "tests/core/transport_fixture.h"

namespace {

using namespace camera_rig;

TEST_F(SplitBulkReadTest, FrameThatComesInShortIsNotAFrame) {
    PoolBuffer buffer(kTernFrame);
    rig_->bus.ShortenNextTransfer(kDataEndpoint, 1000);
    EXPECT_EQ(Read(buffer), STATUS_DEVICE_DATA_ERROR);
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS) << "the tail of the short frame is dropped";
    EXPECT_TRUE(buffer.Bytes() == rig_->camera.ExpectedFrame());
}

TEST_F(SplitBulkReadTest, StalledDataPipeFailsTheFrameAndIsReset) {
    PoolBuffer buffer(kTernFrame);
    rig_->bus.StallEndpoint(kDataEndpoint);
    EXPECT_EQ(Read(buffer), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(rig_->bus.Counters().pipeResets, 1u);
    EXPECT_EQ(rig_->bus.Counters().portResets, 0u);

    // One request went down and failed; then reads queued and the pipe reset, in that order.
    const auto requests = rig_->analyzer.Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[requests.size() - 2].command, 0x03);
    EXPECT_EQ(requests.back().function, URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL);
    EXPECT_EQ(rig_->analyzer.Transfers().size(), 1u + 1u + 1u + 1u);

    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    EXPECT_TRUE(buffer.Bytes() == rig_->camera.ExpectedFrame());
}

TEST_F(SplitBulkReadTest, DisabledPortIsResetByTheFirstTransferThatFailsOnIt) {
    PoolBuffer buffer(kTernFrame);
    rig_->bus.DisablePort();
    // The frame request before the read meets the disabled port and has it reset, so the read
    // itself brings its frame.
    EXPECT_EQ(Read(buffer), STATUS_SUCCESS);
    EXPECT_EQ(rig_->bus.Counters().portResets, 1u);
    EXPECT_TRUE(rig_->bus.PortEnabled());
    EXPECT_TRUE(buffer.Bytes() == rig_->camera.ExpectedFrame());

    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    EXPECT_TRUE(buffer.Bytes() == rig_->camera.ExpectedFrame());
}

TEST_F(SplitBulkReadTest, UnpluggedCameraFailsAtOnce) {
    PoolBuffer buffer(kTernFrame);
    rig_->bus.Unplug();
    // The failed submission ends the read; it does not wait out the timeout.
    EXPECT_EQ(Read(buffer, 20000), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(rig_->bus.Counters().portResets, 0u);
}

TEST_F(SplitBulkReadTest, ReadChecksItsPipeAndBuffer) {
    PoolBuffer buffer(kTernFrame);
    EXPECT_EQ(transport_->SplitBulkRead(3, kTernFrame, buffer.data(), 100),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(transport_->SplitBulkRead(kDataPipe, 0, buffer.data(), 100),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(transport_->SplitBulkRead(kDataPipe, kTernFrame, nullptr, 100),
              STATUS_INVALID_PARAMETER);
    ASSERT_EQ(transport_->Unconfigure(), STATUS_SUCCESS);
    EXPECT_EQ(transport_->SplitBulkRead(kDataPipe, kTernFrame, buffer.data(), 100),
              STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(rig_->analyzer.Transfers().empty());
}

TEST_F(SplitBulkReadTest, AnAllocationFailureAnywhereInTheReadLeavesNothingBehind) {
    PoolBuffer buffer(kTernFrame);
    const ULONG tags[] = {zyn::kTagOther, sim::pool::kIrpTag, sim::pool::kMdlTag};
    auto allocations = [&tags] {
        uint64_t count = 0;
        for (ULONG tag : tags) {
            count += sim::pool::Counters(tag).allocations;
        }
        return count;
    };
    // Each read starts without the requests kept from the one before, so that it makes them
    // all; what a failed read made is kept for the next, and freed with the rest.
    const uint64_t live = sim::pool::LiveBlocks();
    const uint64_t before = allocations();
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    transport_->FreeChunkKits();
    const uint64_t perRead = allocations() - before;
    // Two commands of URB and IRP each around the split read's own frame request and reads
    // queued, the records, the whole-buffer MDL, the requests' array and three allocations
    // per request.
    ASSERT_EQ(perRead, 2u + 2u + 1u + 1u + 1u + 22u * 3u + 2u);
    EXPECT_EQ(sim::pool::LiveBlocks(), live);

    int failures = 0;
    for (uint64_t n = 1; n <= perRead; ++n) {
        sim::pool::FailNthAllocation(n);
        const NTSTATUS status = Read(buffer, 200);
        sim::pool::ClearInjectedFailures();
        transport_->FreeChunkKits();
        EXPECT_EQ(sim::pool::LiveBlocks(), live) << "allocation " << n;
        EXPECT_EQ(rig_->bus.PendingTransfers(kDataEndpoint), 0u) << "allocation " << n;
        if (status != STATUS_SUCCESS) {
            ++failures;
            // Without its reads-queued command the camera never sends: that read times out.
            EXPECT_TRUE(status == STATUS_INSUFFICIENT_RESOURCES || status == STATUS_TIMEOUT)
                << "allocation " << n;
        }
    }
    // Either of the two frame requests arms the camera; everything else is needed.
    EXPECT_EQ(failures, static_cast<int>(perRead) - 4);
    std::printf("%llu allocations of a frame read failed in turn\n",
                static_cast<unsigned long long>(perRead));
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    EXPECT_TRUE(buffer.Bytes() == rig_->camera.ExpectedFrame());
}

} // namespace
