// The Plover driver's sensor programming on the emulated Plover camera: the window, the line
// buffer for the firmware at hand, exposure with long frames, the gain formula, trigger and
// the clock.
#include <gtest/gtest.h>

#include <cmath>

#include "driver/protocol/command_codes.h"
#include "driver/control/window_region_rule.h"
#include "driver/models/plover/plover_camera_device.h"
#include "driver/models/plover/plover_gain.h"
#include "driver/models/tern/tern_camera_device.h"
#include "tests/models/ideal_readout.h"

namespace model_test {
namespace {

using zyn::plover::PloverCameraDevice;

constexpr Filter kPloverFilter = {2, false}; // RGGB wherever the window starts

void SetRegion(zyn::CameraDevice& device, LONG x, LONG y, LONG width, LONG height) {
    zyn::ApplyWindowRegion(device.Settings(), device.Traits().limits, device.Traits().windowRegion,
                           {0, x, y, width, height});
}

NTSTATUS Start(zyn::CameraDevice& device) {
    return device.StartCapture(nullptr, device.Settings().RoiW, device.Settings().RoiH);
}

using PloverTest = DeviceTest;

TEST(PloverGain, FineValuesFollowTheFormulaForEveryCode) {
    for (ULONG gain = 0; gain <= 119; ++gain) {
        const ULONG n = 10 * (gain / 30) + gain % 30;
        const auto exact = static_cast<ULONG>(std::floor(4096.0 * std::pow(10.0, -0.015 * n)));
        const zyn::plover::GainCode code = zyn::plover::PloverGainCode(gain);
        EXPECT_EQ(code.fine, exact) << gain;
        EXPECT_EQ(code.coarse, 21 * (gain / 30)) << gain;
    }
}

TEST_F(PloverTest, AWindowOfAnyWidthArrivesWholeAndInItsColours) {
    DeviceRig& rig = MakeRig(Model::Plover);
    auto& plover = rig.As<PloverCameraDevice>();
    const imaging::RgbImage& scene = DetailedScene(Model::Plover);
    rig.camera.SetScene(scene);
    plover.PrepareAtDeviceStart();

    // Full window: padded to a whole number of 2 KiB.
    ASSERT_EQ(Start(plover), STATUS_SUCCESS);
    EXPECT_EQ(plover.GetRawFrameSize(), 1'392'640u);
    EXPECT_TRUE(DeliversIdealReadout(rig, IdealRead(scene, kPloverFilter, {0, 0, 1328, 1048})));

    // A region whose width is no multiple of 8 is read out as wide as it is converted; the
    // delivered image is its leftmost 400 columns.
    SetRegion(plover, 101, 53, 403, 301);
    ASSERT_EQ(Start(plover), STATUS_SUCCESS);
    EXPECT_EQ(plover.Settings().OutputWidth, 400);
    EXPECT_EQ(plover.GetRawFramePitch(), 403u);
    EXPECT_EQ(plover.GetRawFrameSize(), 122'880u);
    EXPECT_EQ(plover.BayerPhase(), 2);
    EXPECT_TRUE(DeliversIdealReadout(rig, IdealRead(scene, kPloverFilter, {101, 53, 403, 301})));
}

TEST_F(PloverTest, TheLineBufferTimingFollowsTheFirmwareVersion) {
    DeviceRig& rig = MakeRig(Model::Plover);
    auto& plover = rig.As<PloverCameraDevice>();
    rig.camera.SetFirmwareVersion(787741);
    plover.PrepareAtDeviceStart();
    EXPECT_EQ(plover.FirmwareVersion(), 787741u);
    EXPECT_FALSE(plover.Initializing());
    ASSERT_EQ(Start(plover), STATUS_SUCCESS);
    EXPECT_EQ(rig.camera.BoardRegister(33), 148);

    rig.camera.SetFirmwareVersion(787742);
    plover.PrepareAtDeviceStart();
    ASSERT_EQ(Start(plover), STATUS_SUCCESS);
    EXPECT_EQ(rig.camera.BoardRegister(33), 46);
    // The buffer holds the window's size.
    EXPECT_EQ(rig.camera.BoardRegister(37) | rig.camera.BoardRegister(38) << 8, 1328);
    EXPECT_EQ(rig.camera.BoardRegister(39) | rig.camera.BoardRegister(40) << 8, 1048);
}

TEST_F(PloverTest, ExposureBeyondTheFrameStretchesTheFrame) {
    DeviceRig& rig = MakeRig(Model::Plover);
    auto& plover = rig.As<PloverCameraDevice>();
    const auto frameLength = [&rig] {
        return rig.camera.SensorRegister(0x7C) | rig.camera.SensorRegister(0x7D) << 8;
    };
    const auto shutter = [&rig] {
        return rig.camera.SensorRegister(0x08) | rig.camera.SensorRegister(0x09) << 8;
    };
    ASSERT_EQ(Start(plover), STATUS_SUCCESS); // 1048 lines and 92 of blanking
    EXPECT_EQ(plover.FrameLength(), 1140u);

    EXPECT_TRUE(plover.setExposure(500));
    EXPECT_EQ(frameLength(), 1140u);
    EXPECT_EQ(shutter(), 640u);
    EXPECT_TRUE(plover.setExposure(2000));
    EXPECT_EQ(plover.Settings().Exposure, 2000);
    EXPECT_EQ(frameLength(), 2000u);
    EXPECT_EQ(shutter(), 0u);
    // The sensor's frame length register holds 16 bits; the exposure stays within the maximum
    // the driver reports.
    EXPECT_TRUE(plover.setExposure(100000));
    EXPECT_EQ(plover.Settings().Exposure, 8191);
    EXPECT_EQ(frameLength(), 8191u);
    EXPECT_TRUE(plover.setExposure(0));
    EXPECT_EQ(plover.Settings().Exposure, 1);
    EXPECT_EQ(shutter(), 1139u);

    // A lower window makes a shorter frame: its bottom row and the blanking.
    SetRegion(plover, 0, 100, 320, 200);
    ASSERT_EQ(Start(plover), STATUS_SUCCESS);
    EXPECT_EQ(frameLength(), 392u);
    EXPECT_EQ(shutter(), 391u);
}

TEST_F(PloverTest, GainIsStoredCutAndProgrammedAsCoarseAndFineSteps) {
    DeviceRig& rig = MakeRig(Model::Plover);
    auto& plover = rig.As<PloverCameraDevice>();
    EXPECT_TRUE(plover.setGain(100));
    EXPECT_EQ(rig.camera.SensorRegister(0x1C), 0x04u);
    EXPECT_EQ(rig.camera.SensorRegister(0x1D), 0x04u);
    EXPECT_EQ(rig.camera.SensorRegister(0x1E), 0x3Fu);
    EXPECT_TRUE(plover.setGain(200));
    EXPECT_EQ(plover.Settings().GlobalGain, 119);
    EXPECT_EQ(rig.camera.SensorRegister(0x1C) | rig.camera.SensorRegister(0x1D) << 8, 533u);

    rig.bus.Unplug();
    EXPECT_FALSE(plover.setGain(30));
    EXPECT_EQ(plover.Settings().GlobalGain, 30) << "stored before it is programmed";
}

TEST_F(PloverTest, SensorWritesCarryAnEightBitAddressAndFillTheShadow) {
    DeviceRig& rig = MakeRig(Model::Plover);
    auto& plover = rig.As<PloverCameraDevice>();
    rig.camera.ClearCommandLog();
    EXPECT_TRUE(plover.writeSensorRegister(0x7C, 0x1234));
    EXPECT_EQ(plover.Settings().RegisterShadow[0x7C], 0x1234);
    EXPECT_FALSE(plover.writeSensorRegister(256, 1));
    const std::vector<sim::camera::CommandRecord> log = rig.camera.CommandLog();
    ASSERT_EQ(log.size(), 1u);
    const uint8_t expected[] = {zyn::CMD_SENSOR_WRITE, 2, 0x7C, 0x34, 0};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), log[0].bytes.begin()));
}

TEST_F(PloverTest, TriggerIsTheBoardsAndReadsBackFromIt) {
    DeviceRig& rig = MakeRig(Model::Plover);
    auto& plover = rig.As<PloverCameraDevice>();
    EXPECT_TRUE(plover.setExternalTrigger(1));
    EXPECT_EQ(rig.camera.BoardRegister(zyn::board::kTrigger), 37);
    EXPECT_EQ(plover.Settings().ExTrigger, 1);

    // A board with a trigger bit set raises ExTrigger; one without leaves the chosen value.
    struct Read {
        LONG stored;
        UCHAR board;
        LONG expected;
    };
    LONG flag = -1;
    for (const Read& read :
         {Read{1, 0x04, 1}, Read{1, 0x02, 1}, Read{0, 0x02, 0}, Read{0, 0x04, 1}}) {
        plover.Settings().ExTrigger = read.stored;
        rig.camera.SetBoardRegister(zyn::board::kTrigger, read.board);
        ASSERT_TRUE(plover.readExternalTrigger(&flag));
        EXPECT_EQ(flag, read.expected) << "ExTrigger " << read.stored << ", board " << +read.board;
        EXPECT_EQ(plover.Settings().ExTrigger, read.expected);
    }
    plover.Settings().ExTrigger = 0;

    rig.bus.Unplug();
    EXPECT_FALSE(plover.setExternalTrigger(1));
    EXPECT_EQ(plover.Settings().ExTrigger, 1) << "stored whatever the board answered";
    EXPECT_FALSE(plover.readExternalTrigger(&flag));
    EXPECT_EQ(plover.Settings().ExTrigger, 1);
}

TEST_F(PloverTest, AChosenClockRestartsTheCameraAndReadsBackAsChosen) {
    DeviceRig& rig = MakeRig(Model::Plover);
    auto& plover = rig.As<PloverCameraDevice>();
    SetRegion(plover, 64, 32, 256, 128);
    rig.camera.ClearCommandLog();
    ASSERT_TRUE(plover.selectClock(3));
    EXPECT_EQ(plover.Settings().Clock, 3);
    EXPECT_EQ(rig.camera.BoardRegister(zyn::board::kClockIndex), 3);
    // The sensor was initialised and the window programmed again: frames come.
    EXPECT_EQ(plover.GetRawFramePitch(), 256u);
    EXPECT_FALSE(rig.ReadFrame().empty());

    LONG clock = -1;
    ASSERT_TRUE(plover.readClock(&clock));
    EXPECT_EQ(clock, 3) << "a selectable clock reads back as chosen";

    ASSERT_TRUE(plover.selectClock(6));
    EXPECT_EQ(plover.Settings().Clock, 0);
    ASSERT_TRUE(plover.selectClock(-2));
    EXPECT_EQ(rig.camera.BoardRegister(zyn::board::kClockIndex), 0);
}

TEST_F(PloverTest, AFixedClockReportsItsIndexThreeAsTwo) {
    DeviceRig& rig = MakeRig(Model::Tern);
    rig.camera.SetClockIndex(3);
    LONG clock = -1;
    ASSERT_TRUE(rig.Device().readClock(&clock));
    EXPECT_EQ(clock, 2);
}

} // namespace
} // namespace model_test
