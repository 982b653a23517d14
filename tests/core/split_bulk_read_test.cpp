#include <gtest/gtest.h>

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

TEST_F(SplitBulkReadTest, RecordsAndMdlsAreFreedAfterEachFrame) {
    PoolBuffer buffer(kTernFrame);
    const uint64_t live = sim::pool::LiveBlocks();
    const uint64_t before = sim::pool::Counters(zyn::kTagOther).allocations;
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    EXPECT_EQ(sim::pool::LiveBlocks(), live);
    // Per frame: the record array, 22 URBs and the URBs of three commands.
    EXPECT_EQ(sim::pool::Counters(zyn::kTagOther).allocations - before, 2u * (1 + 22 + 3));
}

TEST_F(SplitBulkReadTest, KeptRecordArrayIsReusedUntilTheChunkCountChanges) {
    transport_->SetKeepChunkRecords(TRUE);
    PoolBuffer buffer(kTernFrame);
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    const uint64_t live = sim::pool::LiveBlocks();
    const uint64_t before = sim::pool::Counters(zyn::kTagOther).allocations;
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    EXPECT_EQ(sim::pool::Counters(zyn::kTagOther).allocations - before, 22u + 3u);
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
