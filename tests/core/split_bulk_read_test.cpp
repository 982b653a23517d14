#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <future>
#include <memory>

#include "driver/core/usb_transport.h"
#include "driver/pool_tags.h"
#include "tests/core/transport_rig.h"
#include "tests/support/verified_test.h"

namespace {

using namespace transport_test;
using namespace std::chrono_literals;

constexpr ULONG kTernFrame = 1360 * 1024;
constexpr ULONG kDataPipe = 2;
constexpr UCHAR kTernTriggerOn = 1;

class SplitBulkReadTest : public sim::testing::VerifiedTest {
protected:
    void SetUp() override {
        VerifiedTest::SetUp();
        rig_ = std::make_unique<CameraRig>();
        transport_ = std::make_unique<zyn::UsbTransport>();
        transport_->Attach(rig_->Physical(), rig_->Next(), nullptr);
        ASSERT_EQ(transport_->Configure(), STATUS_SUCCESS);
        rig_->camera.PrepareStreaming(kTernFrame);
        rig_->analyzer.Clear();
    }
    void TearDown() override {
        transport_.reset();
        rig_.reset();
        VerifiedTest::TearDown();
    }

    // As the device's frame read: a frame request, then the split read.
    NTSTATUS Read(PoolBuffer& buffer, ULONG timeoutMs = 3000) {
        std::array<UCHAR, 64> request{0x02};
        ULONG transferred = 0;
        transport_->PipeTransfer(0, 64, request.data(), &transferred);
        return transport_->SplitBulkRead(kDataPipe, static_cast<ULONG>(buffer.size()),
                                         buffer.data(), timeoutMs);
    }

    // Starts a read on its own thread; the camera waits for a trigger that never comes.
    std::future<NTSTATUS> ReadInBackground(PoolBuffer& buffer, ULONG timeoutMs) {
        rig_->camera.SetBoardRegister(11, kTernTriggerOn);
        auto read = std::async(std::launch::async,
                               [this, &buffer, timeoutMs] { return Read(buffer, timeoutMs); });
        EXPECT_TRUE(rig_->bus.WaitForPendingTransfers(kDataEndpoint, 22, 10s));
        return read;
    }

    std::unique_ptr<CameraRig> rig_;
    std::unique_ptr<zyn::UsbTransport> transport_;
};

TEST(BulkChunkCount, OneRequestPer64KiBAndOneForTheRest) {
    EXPECT_EQ(zyn::BulkChunkCount(1), 1u);
    EXPECT_EQ(zyn::BulkChunkCount(65536), 1u);
    EXPECT_EQ(zyn::BulkChunkCount(65537), 2u);
    EXPECT_EQ(zyn::BulkChunkCount(kTernFrame), 22u);
    EXPECT_EQ(zyn::BulkChunkCount(2048 * 1536), 48u);  // a full Egret frame
    EXPECT_EQ(zyn::BulkChunkCount(1392640), 22u);      // a full Plover window, rounded up
    EXPECT_EQ(zyn::BulkChunkCount(5013504), 77u);      // a full Heron frame
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
    EXPECT_EQ(sim::pool::LiveBlocks(), live + 1) << "the smaller buffer; one array replaced by another";
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

TEST_F(SplitBulkReadTest, DisabledPortIsResetWhenThePipeResetFails) {
    PoolBuffer buffer(kTernFrame);
    rig_->bus.DisablePort();
    EXPECT_EQ(Read(buffer), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(rig_->bus.Counters().portResets, 1u);
    EXPECT_TRUE(rig_->bus.PortEnabled());
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

TEST_F(SplitBulkReadTest, UnpluggingDuringAReadFailsIt) {
    PoolBuffer buffer(kTernFrame);
    auto read = ReadInBackground(buffer, 20000);
    rig_->bus.Unplug();
    EXPECT_EQ(read.get(), STATUS_DEVICE_NOT_CONNECTED);
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
    const uint64_t before = allocations();
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    const uint64_t perRead = allocations() - before;
    // Two commands of URB and IRP each around the split read's own frame request and reads
    // queued, the records, the whole-buffer MDL and three allocations per request.
    ASSERT_EQ(perRead, 2u + 2u + 1u + 1u + 22u * 3u + 2u);

    int failures = 0;
    for (uint64_t n = 1; n <= perRead; ++n) {
        const uint64_t live = sim::pool::LiveBlocks();
        sim::pool::FailNthAllocation(n);
        const NTSTATUS status = Read(buffer, 200);
        sim::pool::ClearInjectedFailures();
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
    ASSERT_EQ(Read(buffer), STATUS_SUCCESS);
    EXPECT_TRUE(buffer.Bytes() == rig_->camera.ExpectedFrame());
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
    EXPECT_EQ(rig_->bus.Counters().aborts, 1u);
    EXPECT_EQ(transport_->AbortPipes(), STATUS_SUCCESS);
    EXPECT_EQ(rig_->bus.Counters().aborts, 1u) << "the mark was cleared";
}

} // namespace
