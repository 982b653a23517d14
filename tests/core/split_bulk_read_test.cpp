#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "driver/pool_tags.h"
#include "tests/core/transport_fixture.h"

namespace {

using namespace camera_rig;

TEST(BulkChunkCount, OneRequestPer64KiBAndOneForTheRest) {
    EXPECT_EQ(zyn::BulkChunkCount(1), 1u);
    EXPECT_EQ(zyn::BulkChunkCount(65536), 1u);
    EXPECT_EQ(zyn::BulkChunkCount(65537), 2u);
    EXPECT_EQ(zyn::BulkChunkCount(kTernFrame), 22u);
    EXPECT_EQ(zyn::BulkChunkCount(2048 * 1536), 48u); // a full Egret frame
    EXPECT_EQ(zyn::BulkChunkCount(1392640), 22u);     // a full Plover window, rounded up
    EXPECT_EQ(zyn::BulkChunkCount(5013504), 77u);     // a full Heron frame
}

TEST_F(SplitBulkReadTest, TernFrameIsReadWith22RequestsOutstandingAtOnce) {
    PoolBuffer buffer(kTernFrame);
    auto read = ReadInBackground(buffer, 10000);
    EXPECT_EQ(rig_->bus.PendingTransfers(kDataEndpoint), 22u);
    ASSERT_TRUE(rig_->camera.FireTrigger());
    ASSERT_EQ(read.get(), STATUS_SUCCESS);
    EXPECT_TRUE(buffer.Bytes() == rig_->camera.ExpectedFrame());

    // Frame request, frame request, the requests, reads queued.
    const auto transfers = rig_->analyzer.Transfers();
    ASSERT_EQ(transfers.size(), 1u + 1u + 22u + 1u);
    EXPECT_EQ(transfers[0].command, 0x02);
    EXPECT_EQ(transfers[1].command, 0x02);
    EXPECT_EQ(transfers[24].command, 0x03);
    const USBD_PIPE_HANDLE dataPipe = transport_->InterfaceInformation()->Pipes[2].PipeHandle;
    for (size_t i = 0; i < 22; ++i) {
        const auto& chunk = transfers[2 + i];
        const ULONG expected = i < 21 ? 65536 : 16384;
        EXPECT_EQ(chunk.pipe, dataPipe) << i;
        EXPECT_EQ(chunk.length, expected) << i;
        EXPECT_EQ(chunk.flags,
                  static_cast<ULONG>(USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK));
        EXPECT_TRUE(chunk.partialMdl) << i;
        EXPECT_EQ(chunk.mdlAddress, buffer.data() + i * 65536) << i;
        EXPECT_EQ(chunk.mdlBytes, expected) << i;
        EXPECT_EQ(chunk.irql, DISPATCH_LEVEL) << "submitted under the spin lock";
    }
    EXPECT_EQ(transfers[24].irql, PASSIVE_LEVEL);
}

TEST_F(SplitBulkReadTest, FrameOfAnExactMultipleOf64KiBUsesNoExtraRequest) {
    rig_->camera.PrepareStreaming(3 * 65536);
    PoolBuffer buffer(3 * 65536);
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    EXPECT_TRUE(buffer.Bytes() == rig_->camera.ExpectedFrame());
    EXPECT_EQ(rig_->analyzer.Transfers().size(), 1u + 1u + 3u + 1u);
}

TEST_F(SplitBulkReadTest, ChunkRequestsAreMadeOnceAndTheRestIsFreedAfterEachFrame) {
    PoolBuffer buffer(kTernFrame);
    const uint64_t live = sim::pool::LiveBlocks();
    auto allocations = [] {
        return std::array<uint64_t, 3>{sim::pool::Counters(zyn::kTagOther).allocations,
                                       sim::pool::Counters(sim::pool::kIrpTag).allocations,
                                       sim::pool::Counters(sim::pool::kMdlTag).allocations};
    };
    const auto first = allocations();
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    const auto second = allocations();
    // The first frame: the record array, the requests' array, 22 URBs and the URBs of three
    // commands; 22 IRPs and the commands' three; 22 partial MDLs and the whole buffer's.
    EXPECT_EQ(second[0] - first[0], 1u + 1 + 22 + 3);
    EXPECT_EQ(second[1] - first[1], 22u + 3);
    EXPECT_EQ(second[2] - first[2], 22u + 1);
    const uint64_t kept = sim::pool::LiveBlocks();
    EXPECT_EQ(kept, live + 1 + 22 * 3) << "the requests stay for the next frame";

    // Each further frame makes only its record array, its commands and its whole-buffer MDL.
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    const auto third = allocations();
    EXPECT_EQ(third[0] - second[0], 1u + 3);
    EXPECT_EQ(third[1] - second[1], 3u);
    EXPECT_EQ(third[2] - second[2], 1u);
    EXPECT_EQ(sim::pool::LiveBlocks(), kept);
    EXPECT_TRUE(buffer.Bytes() == rig_->camera.ExpectedFrame());

    transport_->FreeChunkKits();
    EXPECT_EQ(sim::pool::LiveBlocks(), live);
}

TEST_F(SplitBulkReadTest, ReusedRequestsFollowTheBufferTheyReadInto) {
    // Two buffers in turn, as the acquisition's raw slots; one of them not page aligned, so
    // that its chunks span a page more than those of the other.
    PoolBuffer first(kTernFrame);
    PoolBuffer second(kTernFrame + 100);
    const ULONG frame = kTernFrame;
    for (int round = 0; round < 2; ++round) {
        std::memset(first.data(), 0, first.size());
        ASSERT_EQ(Read(first), STATUS_SUCCESS);
        EXPECT_TRUE(first.Bytes() == rig_->camera.ExpectedFrame()) << "round " << round;
        std::array<UCHAR, 64> request{0x02};
        ULONG transferred = 0;
        transport_->PipeTransfer(0, 64, request.data(), &transferred);
        std::memset(second.data(), 0, second.size());
        ASSERT_EQ(transport_->SplitBulkRead(kDataPipe, frame, second.data() + 100, 3000),
                  STATUS_SUCCESS);
        const std::vector<uint8_t> expected = rig_->camera.ExpectedFrame();
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), second.data() + 100))
            << "round " << round;
        EXPECT_TRUE(
            std::all_of(second.data(), second.data() + 100, [](UCHAR b) { return b == 0; }));
    }
}

TEST_F(SplitBulkReadTest, KeptRecordArrayIsReusedUntilTheChunkCountChanges) {
    transport_->SetKeepChunkRecords(TRUE);
    PoolBuffer buffer(kTernFrame);
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    const uint64_t live = sim::pool::LiveBlocks();
    const uint64_t before = sim::pool::Counters(zyn::kTagOther).allocations;
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    EXPECT_EQ(sim::pool::Counters(zyn::kTagOther).allocations - before, 3u)
        << "the commands' URBs only";
    EXPECT_EQ(sim::pool::LiveBlocks(), live);

    rig_->camera.PrepareStreaming(2 * 65536);
    PoolBuffer smaller(2 * 65536);
    ASSERT_EQ(Read(smaller), STATUS_SUCCESS);
    EXPECT_TRUE(smaller.Bytes() == rig_->camera.ExpectedFrame());
    EXPECT_EQ(sim::pool::LiveBlocks(), live + 1)
        << "the smaller buffer; one array replaced by another";
}

TEST_F(SplitBulkReadTest, TimeoutCancelsOnlyTheRequestsNotYetDone) {
    // The camera sends three chunks' worth; nineteen requests wait in vain.
    rig_->camera.PrepareStreaming(3 * 65536);
    PoolBuffer buffer(kTernFrame);
    ASSERT_EQ(Read(buffer, 100), STATUS_TIMEOUT);
    const auto counters = rig_->bus.Counters();
    EXPECT_EQ(counters.inCompleted, 3u);
    EXPECT_EQ(counters.cancelled, 19u);
    EXPECT_EQ(rig_->bus.PendingTransfers(kDataEndpoint), 0u);

    rig_->camera.PrepareStreaming(kTernFrame);
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS) << "the next frame is read whole";
    EXPECT_TRUE(buffer.Bytes() == rig_->camera.ExpectedFrame());
}

TEST_F(SplitBulkReadTest, UnpluggingDuringAReadFailsIt) {
    PoolBuffer buffer(kTernFrame);
    auto read = ReadInBackground(buffer, 20000);
    rig_->bus.Unplug();
    EXPECT_EQ(read.get(), STATUS_DEVICE_NOT_CONNECTED);
}

TEST_F(SplitBulkReadTest, CancelReadsEndsAReadInProgress) {
    transport_->CancelReads(); // nothing in progress: returns at once
    PoolBuffer buffer(kTernFrame);
    auto read = ReadInBackground(buffer, 20000);
    transport_->CancelReads();
    EXPECT_EQ(read.get(), STATUS_CANCELLED) << "a cancelled frame is no frame";
    EXPECT_EQ(rig_->bus.Counters().cancelled, 22u);
}

TEST_F(SplitBulkReadTest, AbortPipesEndsAReadInProgress) {
    PoolBuffer buffer(kTernFrame);
    auto read = ReadInBackground(buffer, 20000);
    EXPECT_EQ(transport_->AbortPipes(), STATUS_SUCCESS);
    EXPECT_EQ(read.get(), STATUS_CANCELLED);
    // The data pipe, and the command pipe that carried the read's commands.
    EXPECT_GE(rig_->bus.Counters().aborts, 2u);
    // The read may announce its queued requests after the abort went down, which marks the
    // command pipe again; once that is aborted, nothing is left marked.
    EXPECT_EQ(transport_->AbortPipes(), STATUS_SUCCESS);
    const auto settled = rig_->bus.Counters().aborts;
    EXPECT_EQ(transport_->AbortPipes(), STATUS_SUCCESS);
    EXPECT_EQ(rig_->bus.Counters().aborts, settled) << "the marks were cleared";
}

} // namespace
