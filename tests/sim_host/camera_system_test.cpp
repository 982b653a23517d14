// The application side on an emulated camera: the device sits on the camera's bus device, and
// an application finds the filter, reads the range, intersects, creates the pin, streams and
// closes, with the cable pulled at any point.
#include "sim/host/camera_system.h"
#include "sim/wdk/registry.h"
#include "tests/sim_ks/fake_minidriver.h"
#include "tests/support/verified_test.h"

namespace {

using sim::camera::Model;
using sim::host::CameraSystem;
using sim::host::Frame;

constexpr std::chrono::seconds kPatience{10};

class CameraSystemTest : public sim::testing::VerifiedTest {
protected:
    void SetUp() override {
        VerifiedTest::SetUp();
        fake::Reset();
    }
    static sim::camera::CameraOptions Unpaced() {
        sim::camera::CameraOptions options;
        options.frameInterval = std::chrono::nanoseconds(0);
        return options;
    }
};

TEST_F(CameraSystemTest, AnApplicationStreamsFromTheCamerasFilter) {
    CameraSystem system(Model::Tern, fake::DriverEntry, Unpaced());
    ASSERT_EQ(system.loadStatus(), STATUS_SUCCESS);
    EXPECT_EQ(system.driver()->name(), "OculixZYNTernDS");
    ASSERT_EQ(system.Start(), STATUS_SUCCESS);
    EXPECT_EQ(system.device()->ks()->NextDeviceObject, system.physicalDevice());
    EXPECT_EQ(system.device()->ks()->PhysicalDeviceObject, system.physicalDevice());
    {
        NTSTATUS status;
        auto filter = system.OpenFilter(&status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        KS_DATARANGE_VIDEO range;
        ASSERT_EQ(filter->VideoRange(0, &range), STATUS_SUCCESS);
        std::vector<uint8_t> format = filter->IntersectFormat(0, range.DataRange, &status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        EXPECT_EQ(format, sim::host::VideoFormatFromRange(range));
        auto pin = filter->CreatePin(0, format, {}, &status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(pin->Queue(std::make_unique<Frame>(fake::kImageBytes)), STATUS_PENDING);
        }
        for (LONGLONG picture = 1; picture <= 3; ++picture) {
            auto frame = pin->WaitFrame(kPatience);
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(frame->frameInfo()->PictureNumber, picture);
            EXPECT_NE(frame->header().OptionsFlags & KSSTREAM_HEADER_OPTIONSF_TIMEVALID, 0u);
        }
        // Closing while running steps the pin down and gives nothing back twice.
        ASSERT_EQ(pin->Queue(std::make_unique<Frame>(fake::kImageBytes)), STATUS_PENDING);
    }
    system.Stop();
    EXPECT_EQ(fake::Log().back(), "Stop");
}

TEST_F(CameraSystemTest, PullingTheCableLeavesTheDeviceForTheApplicationToClose) {
    CameraSystem system(Model::Heron, fake::DriverEntry, Unpaced());
    ASSERT_EQ(system.Start(), STATUS_SUCCESS);
    auto filter = system.OpenFilter();
    ASSERT_NE(filter, nullptr);
    system.Unplug();
    EXPECT_NE(system.device(), nullptr);
    filter.reset();
    system.Remove();
    EXPECT_EQ(system.device(), nullptr);
    EXPECT_EQ(system.OpenFilter(), nullptr);
    EXPECT_EQ(fake::Log().back(), "DeviceContextFreed");
}

TEST_F(CameraSystemTest, ADriverWritingPastTheClientsFrameIsReported) {
    fake::config().process = [](PKSPIN pin) {
        PKSSTREAM_POINTER pointer =
            KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
        if (pointer != nullptr) {
            std::memset(pointer->OffsetOut.Data, 0, pointer->OffsetOut.Remaining + 4);
            KsStreamPointerUnlock(pointer, TRUE);
        }
        return STATUS_PENDING;
    };
    CameraSystem system(Model::Tern, fake::DriverEntry, Unpaced());
    ASSERT_EQ(system.Start(), STATUS_SUCCESS);
    auto filter = system.OpenFilter();
    auto pin = filter->CreatePin(0, filter->IntersectFormat(0, fake::DataRange().DataRange));
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    sim::testing::VerifierCapture capture;
    ASSERT_EQ(pin->Queue(std::make_unique<Frame>(fake::kImageBytes)), STATUS_PENDING);
    ASSERT_NE(pin->WaitFrame(kPatience), nullptr);
    EXPECT_TRUE(capture.Saw("written past the end of its data"));
}

TEST_F(CameraSystemTest, ACameraCanKeepItsDriverKey) {
    const std::string key =
        "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\Cameras\\0007";
    CameraSystem system(Model::Tern, fake::DriverEntry, Unpaced(), nullptr, key);
    EXPECT_EQ(sim::registry::DriverKeyPath(system.physicalDevice()), key);
}

TEST_F(CameraSystemTest, ADriverThatFailsToLoadLeavesNoDevice) {
    fake::config().entryStatus = STATUS_INSUFFICIENT_RESOURCES;
    CameraSystem system(Model::Plover, fake::DriverEntry, Unpaced());
    EXPECT_EQ(system.loadStatus(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(system.Start(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(system.device(), nullptr);
}

} // namespace
