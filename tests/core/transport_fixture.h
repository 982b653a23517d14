// The transport tests' fixtures: a transport attached to the emulated Tern camera through the
// analyser, and for the split read, configured with the camera streaming full frames.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <future>
#include <memory>

#include "driver/protocol/usb_transport.h"
#include "tests/support/camera_rig.h"
#include "tests/support/verified_test.h"

namespace camera_rig {

using namespace std::chrono_literals;

constexpr ULONG kTernFrame = 1360 * 1024;
constexpr ULONG kDataPipe = 2;
constexpr UCHAR kTernTriggerOn = 1;

class TransportTest : public sim::testing::VerifiedTest {
protected:
    void SetUp() override {
        VerifiedTest::SetUp();
        rig_ = std::make_unique<CameraRig>();
        transport_ = std::make_unique<zyn::UsbTransport>();
        transport_->Attach(rig_->Physical(), rig_->Next(), nullptr);
    }
    void TearDown() override {
        transport_.reset();
        rig_.reset();
        VerifiedTest::TearDown();
    }

    void Configure() { ASSERT_EQ(transport_->Configure(), STATUS_SUCCESS); }

    // CMD_BOARD_READ of register 15, sent the way the command channel does.
    NTSTATUS AskClock(ULONG* transferred) {
        std::array<UCHAR, 64> command{0x26, 15};
        return transport_->PipeTransfer(0, 64, command.data(), transferred);
    }

    std::unique_ptr<CameraRig> rig_;
    std::unique_ptr<zyn::UsbTransport> transport_;
};

using UsbTransportTest = TransportTest;

class SplitBulkReadTest : public TransportTest {
protected:
    void SetUp() override {
        TransportTest::SetUp();
        Configure();
        rig_->camera.PrepareStreaming(kTernFrame);
        rig_->analyzer.Clear();
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
};

} // namespace camera_rig
