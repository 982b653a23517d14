#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "driver/protocol/usb_transport.h"
#include "tests/core/transport_rig.h"
#include "tests/support/verified_test.h"

namespace {

using namespace transport_test;

class UsbTransportTest : public sim::testing::VerifiedTest {
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

TEST_F(UsbTransportTest, ConfigureRecordsTheThreePipesOfTheInterface) {
    Configure();
    const USBD_INTERFACE_INFORMATION* info = transport_->InterfaceInformation();
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->NumberOfPipes, 3u);
    const UCHAR endpoints[] = {kCommandEndpoint, kResponseEndpoint, kDataEndpoint};
    for (ULONG i = 0; i < 3; ++i) {
        EXPECT_EQ(info->Pipes[i].EndpointAddress, endpoints[i]);
        EXPECT_EQ(info->Pipes[i].PipeType, UsbdPipeTypeBulk);
        EXPECT_NE(info->Pipes[i].PipeHandle, nullptr);
        EXPECT_EQ(info->Pipes[i].MaximumTransferSize, 0xFFFFFFFFu);
    }
    ASSERT_NE(transport_->ConfigurationDescriptor(), nullptr);
    EXPECT_EQ(transport_->ConfigurationDescriptor()->wTotalLength,
              rig_->camera.ConfigurationDescriptor(0).size());
    EXPECT_TRUE(rig_->bus.Configured());

    // Device descriptor, configuration header, whole configuration, select configuration.
    const auto requests = rig_->analyzer.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].function, URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE);
    EXPECT_EQ(requests[3].function, URB_FUNCTION_SELECT_CONFIGURATION);
}

TEST_F(UsbTransportTest, PipeChecksComeBeforeAnyRequest) {
    ULONG transferred = 7;
    UCHAR packet[64] = {};
    EXPECT_EQ(transport_->PipeTransfer(0, 64, packet, &transferred), STATUS_UNSUCCESSFUL)
        << "not configured";
    EXPECT_EQ(transferred, 0u);
    EXPECT_EQ(transport_->ResetPipe(0), STATUS_UNSUCCESSFUL);

    Configure();
    rig_->analyzer.Clear();
    EXPECT_EQ(transport_->PipeTransfer(3, 64, packet, &transferred), STATUS_INVALID_PARAMETER)
        << "pipe index equal to NumberOfPipes";
    EXPECT_EQ(transport_->PipeTransfer(0xFFFFFFFF, 64, packet, &transferred),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(transport_->ResetPipe(3), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(rig_->analyzer.Requests().empty());
}

TEST_F(UsbTransportTest, TransferOfExactlyMaximumTransferSizeIsAcceptedOneMoreIsNot) {
    rig_->bus.SetMaximumTransferSize(64);
    Configure();
    ASSERT_EQ(transport_->InterfaceInformation()->Pipes[0].MaximumTransferSize, 64u);
    rig_->analyzer.Clear();

    ULONG transferred = 0;
    UCHAR packet[65] = {0x25, 14, 0};
    EXPECT_EQ(transport_->PipeTransfer(0, 65, packet, &transferred), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(rig_->analyzer.Requests().empty());
    EXPECT_EQ(transport_->PipeTransfer(0, 64, packet, &transferred), STATUS_SUCCESS);
    EXPECT_EQ(transferred, 64u);

    const auto transfers = rig_->analyzer.Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].flags, static_cast<ULONG>(USBD_SHORT_TRANSFER_OK)) << "OUT pipe";
    EXPECT_EQ(transfers[0].mdl, nullptr) << "command transfers use the virtual address";
}

TEST_F(UsbTransportTest, ShortInTransferSucceedsWithTheShortCount) {
    Configure();
    rig_->camera.SetClockIndex(5);
    ULONG transferred = 0;
    ASSERT_EQ(AskClock(&transferred), STATUS_SUCCESS);
    ASSERT_EQ(transferred, 64u);

    // Each answer is one 64-byte packet: a 512-byte read ends short after it.
    std::array<UCHAR, 512> answer{};
    ASSERT_EQ(transport_->PipeTransfer(1, 512, answer.data(), &transferred), STATUS_SUCCESS);
    EXPECT_EQ(transferred, 64u);
    EXPECT_EQ(answer[0], 0x26) << "the first answer echoes the command";
    ASSERT_EQ(transport_->PipeTransfer(1, 512, answer.data(), &transferred), STATUS_SUCCESS);
    EXPECT_EQ(transferred, 64u);
    EXPECT_EQ(answer[0], 5);
    const auto transfers = rig_->analyzer.Transfers();
    EXPECT_EQ(transfers.back().flags,
              static_cast<ULONG>(USBD_SHORT_TRANSFER_OK | USBD_TRANSFER_DIRECTION_IN));
}

TEST_F(UsbTransportTest, UnconfigureOfANeverConfiguredTransportStillUnconfiguresTheDevice) {
    zyn::UsbTransport other;
    other.Attach(rig_->Physical(), rig_->Next(), nullptr);
    ASSERT_EQ(other.Configure(), STATUS_SUCCESS);
    ASSERT_TRUE(rig_->bus.Configured());
    rig_->analyzer.Clear();

    EXPECT_EQ(transport_->Unconfigure(), STATUS_SUCCESS);
    EXPECT_FALSE(rig_->bus.Configured());
    const auto requests = rig_->analyzer.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].function, URB_FUNCTION_SELECT_CONFIGURATION);
    ASSERT_EQ(other.Unconfigure(), STATUS_SUCCESS);
}

TEST_F(UsbTransportTest, UnconfigureFreesTheConfigurationAndPipesStopWorking) {
    Configure();
    const uint64_t live = sim::pool::LiveBlocks();
    EXPECT_EQ(transport_->Unconfigure(), STATUS_SUCCESS);
    EXPECT_EQ(sim::pool::LiveBlocks(), live - 3) << "descriptor, interface, abort marks";
    EXPECT_FALSE(transport_->IsConfigured());
    ULONG transferred = 0;
    EXPECT_EQ(AskClock(&transferred), STATUS_UNSUCCESSFUL);
}

TEST_F(UsbTransportTest, ConfiguringAgainReplacesTheConfigurationWithoutLeaking) {
    Configure();
    const uint64_t live = sim::pool::LiveBlocks();
    Configure();
    EXPECT_EQ(sim::pool::LiveBlocks(), live);
}

TEST_F(UsbTransportTest, AnAllocationFailureAnywhereInConfigureLeavesNothingBehind) {
    int failures = 0;
    for (uint64_t n = 1;; ++n) {
        ASSERT_LT(n, 100u) << "Configure never succeeded";
        const uint64_t live = sim::pool::LiveBlocks();
        sim::pool::FailNthAllocation(n);
        const NTSTATUS status = transport_->Configure();
        sim::pool::ClearInjectedFailures();
        if (NT_SUCCESS(status)) {
            break;
        }
        ++failures;
        EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES) << "allocation " << n;
        EXPECT_EQ(sim::pool::LiveBlocks(), live) << "allocation " << n;
        EXPECT_FALSE(transport_->IsConfigured()) << "allocation " << n;
    }
    // URB, device descriptor, header, configuration, interface list, configuration request,
    // interface copy, abort marks, and an IRP for each of the four requests.
    EXPECT_EQ(failures, 12);
    EXPECT_TRUE(transport_->IsConfigured());
}

TEST_F(UsbTransportTest, UnpluggedCameraFailsConfigureAndEveryRequest) {
    rig_->bus.Unplug();
    EXPECT_EQ(transport_->Configure(), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(transport_->IsConfigured());
    EXPECT_EQ(transport_->Unconfigure(), STATUS_DEVICE_NOT_CONNECTED);
    ULONG port = 0;
    EXPECT_EQ(transport_->GetPortStatus(&port), STATUS_DEVICE_NOT_CONNECTED);
    transport_->RecoverPort();
    EXPECT_EQ(rig_->bus.Counters().portResets, 0u);
}

TEST_F(UsbTransportTest, UnpluggingAConfiguredCameraFailsTransfers) {
    Configure();
    rig_->bus.Unplug();
    ULONG transferred = 9;
    EXPECT_EQ(AskClock(&transferred), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(transferred, 0u);
}

// A stall fails the transfer that met it, and the transport clears it at once: a stalled
// command pipe would otherwise leave every later command (the frame requests among them)
// failing with nobody told.
TEST_F(UsbTransportTest, StalledPipeFailsOneTransferAndIsReset) {
    Configure();
    rig_->bus.StallEndpoint(kCommandEndpoint);
    ULONG transferred = 0;
    EXPECT_EQ(AskClock(&transferred), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(rig_->bus.Counters().pipeResets, 1u);
    EXPECT_EQ(AskClock(&transferred), STATUS_SUCCESS);
    EXPECT_EQ(transferred, 64u);
    EXPECT_EQ(transport_->ResetPipe(0), STATUS_SUCCESS);
}

TEST_F(UsbTransportTest, RecoverPortResetsOnlyAConnectedDisabledPort) {
    Configure();
    transport_->RecoverPort();
    EXPECT_EQ(rig_->bus.Counters().portResets, 0u);

    rig_->bus.DisablePort();
    ULONG port = 0;
    ASSERT_EQ(transport_->GetPortStatus(&port), STATUS_SUCCESS);
    EXPECT_EQ(port, static_cast<ULONG>(USBD_PORT_CONNECTED));
    EXPECT_NE(transport_->ResetPipe(2), STATUS_SUCCESS) << "a disabled port takes no pipe reset";
    transport_->RecoverPort();
    EXPECT_EQ(rig_->bus.Counters().portResets, 1u);
    EXPECT_TRUE(rig_->bus.PortEnabled());
}

TEST_F(UsbTransportTest, AbortPipesAbortsOnlyMarkedPipesOnce) {
    EXPECT_EQ(transport_->AbortPipes(), STATUS_SUCCESS) << "not configured";
    Configure();
    EXPECT_EQ(transport_->AbortPipes(), STATUS_SUCCESS);
    EXPECT_EQ(rig_->bus.Counters().aborts, 0u);

    transport_->MarkPipeForAbort(2);
    transport_->MarkPipeForAbort(7); // no such pipe: ignored
    sim::pool::FailNthAllocation(1);
    EXPECT_EQ(transport_->AbortPipes(), STATUS_INSUFFICIENT_RESOURCES);
    sim::pool::ClearInjectedFailures();
    EXPECT_EQ(rig_->bus.Counters().aborts, 0u);

    EXPECT_EQ(transport_->AbortPipes(), STATUS_SUCCESS);
    EXPECT_EQ(transport_->AbortPipes(), STATUS_SUCCESS);
    EXPECT_EQ(rig_->bus.Counters().aborts, 1u);
    const auto requests = rig_->analyzer.Requests();
    EXPECT_EQ(requests.back().function, URB_FUNCTION_ABORT_PIPE);
    EXPECT_EQ(requests.back().pipe, transport_->InterfaceInformation()->Pipes[2].PipeHandle);
}

// A device whose configuration descriptor claims more bytes than it delivers.
class TruncatedConfigurationDevice : public sim::usb::DeviceModel {
public:
    explicit TruncatedConfigurationDevice(const sim::camera::Camera& camera) : camera_(camera) {}
    std::vector<uint8_t> DeviceDescriptor() const override { return camera_.DeviceDescriptor(); }
    std::vector<uint8_t> ConfigurationDescriptor(uint8_t index) const override {
        std::vector<uint8_t> whole = camera_.ConfigurationDescriptor(index);
        whole.resize(whole.size() - 7); // the last endpoint descriptor is missing
        return whole;
    }
    bool Out(uint8_t, const uint8_t*, size_t) override { return true; }
    InResult In(uint8_t, uint8_t*, size_t) override { return {}; }
    void SetDataReadyCallback(std::function<void()>) override {}

private:
    const sim::camera::Camera& camera_;
};

TEST_F(UsbTransportTest, ConfigurationShorterThanItsTotalLengthIsRefused) {
    TruncatedConfigurationDevice device(rig_->camera);
    sim::usb::Bus bus(device);
    zyn::UsbTransport transport;
    transport.Attach(bus.DeviceObject(), bus.DeviceObject(), nullptr);
    EXPECT_EQ(transport.Configure(), STATUS_DEVICE_DATA_ERROR);
    EXPECT_FALSE(transport.IsConfigured());
    EXPECT_FALSE(bus.Configured());
}

} // namespace
