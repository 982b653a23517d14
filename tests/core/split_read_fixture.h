// The split read tests' fixture: a configured transport on the emulated Tern camera, streaming
// full frames.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <future>
#include <memory>

#include "driver/protocol/usb_transport.h"
#include "tests/core/transport_rig.h"
#include "tests/support/verified_test.h"

namespace transport_test {

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

} // namespace transport_test
