// The Egret driver's sensor programming on the emulated Egret camera: where it differs from the
// Heron (power-up, array, binned frame, frame timing) and that its windows arrive right.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/protocol/command_codes.h"
#include "driver/control/window_region_rule.h"
#include "driver/models/crop_sensor/crop_sensor_camera_device.h"
#include "tests/models/ideal_readout.h"

namespace model_test {
namespace {

using zyn::crop::CropSensorCameraDevice;
using namespace std::chrono_literals;

constexpr Filter kEgretFilter = {1, true};

void SetRegion(zyn::CameraDevice& device, LONG subSample, LONG x, LONG y, LONG width, LONG height) {
    zyn::ApplyWindowRegion(device.Settings(), device.Traits().limits, device.Traits().windowRegion,
                           {subSample, x, y, width, height});
}

NTSTATUS Start(zyn::CameraDevice& device) {
    return device.StartCapture(nullptr, device.Settings().RoiW, device.Settings().RoiH);
}

using EgretTest = DeviceTest;

TEST_F(EgretTest, DeviceStartPowersTheSensorLeavesItInStandbyUntilTheCameraStart) {
    DeviceRig& rig = MakeRig(Model::Egret);
    auto& egret = rig.As<CropSensorCameraDevice>();
    egret.PrepareAtDeviceStart();
    EXPECT_FALSE(egret.Initializing());

    const std::vector<sim::camera::CommandRecord> log = rig.camera.CommandLog();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[2].code(), zyn::CMD_INIT_BEGIN);
    EXPECT_EQ(log[3].code(), zyn::CMD_SENSOR_CONTROL);
    EXPECT_EQ(log[3].bytes[1], 0x20);
    ASSERT_EQ(log[4].code(), zyn::CMD_SENSOR_WRITE) << "no release before the table";
    EXPECT_GE(log[4].time - log[3].time, 300ms);

    const std::vector<sim::camera::SensorWrite> writes = rig.SensorWrites();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front().address, 0x205u);
    const auto end = std::find_if(writes.begin(), writes.end(),
                                  [](const auto& w) { return w.address == 0x289; });
    ASSERT_NE(end, writes.end());
    EXPECT_GE(end - writes.begin(), 180);
    EXPECT_LE(end - writes.begin(), 220);
    EXPECT_EQ((end - 1)->address, 0x129Eu);

    EXPECT_EQ(egret.GetRawFrameSize(), 3'145'728u);
    EXPECT_TRUE(rig.camera.Status().sensorStreaming);
    EXPECT_FALSE(rig.ReadFrame().empty());
}

TEST_F(EgretTest, WindowsAndTheBinnedFrameArriveTheWayTheFlipsAsk) {
    DeviceRig& rig = MakeRig(Model::Egret);
    rig.camera.PrepareStreaming(0);
    auto& egret = rig.As<CropSensorCameraDevice>();
    const imaging::RgbImage& scene = DetailedScene(Model::Egret);
    rig.camera.SetScene(scene);

    // A window reaching the far corner, read backwards both ways.
    SetRegion(egret, 0, 1700, 1300, 500, 400);
    ASSERT_EQ(Start(egret), STATUS_SUCCESS);
    ASSERT_TRUE(egret.setFlipH(1));
    ASSERT_TRUE(egret.setFlipV(1));
    EXPECT_EQ(egret.Settings().RoiW, 348);
    EXPECT_EQ(egret.Settings().RoiH, 236);
    EXPECT_TRUE(DeliversIdealReadout(
        rig, IdealRead(scene, kEgretFilter, {1700, 1300, 348, 236}, 1, true, true)));

    // Binned: 1024 samples and 8 of padding a line, 768 lines; mirrored only.
    ASSERT_TRUE(egret.setFlipV(0));
    SetRegion(egret, 1, 0, 0, 0, 0);
    ASSERT_EQ(Start(egret), STATUS_SUCCESS);
    EXPECT_EQ(egret.GetRawFramePitch(), 1032u);
    EXPECT_EQ(egret.GetRawFrameSize(), 1032u * 768);
    EXPECT_TRUE(DeliversIdealReadout(
        rig, IdealRead(scene, kEgretFilter, {0, 0, 2048, 1536}, 2, true, false)));
}

TEST_F(EgretTest, ExposureTimesTheFrameWithTheEgretsOverhead) {
    DeviceRig& rig = MakeRig(Model::Egret);
    rig.camera.PrepareStreaming(0);
    auto& egret = rig.As<CropSensorCameraDevice>();
    ASSERT_EQ(Start(egret), STATUS_SUCCESS); // full window: 1535 lines of 3384 clocks
    EXPECT_EQ(egret.LineLength(), 3384u);

    const auto value = [&rig](ULONG first) {
        return rig.camera.SensorRegister(first) | rig.camera.SensorRegister(first + 1) << 8 |
               rig.camera.SensorRegister(first + 2) << 16;
    };
    // 1535 lines and 281 more: the longest exposure that fits the frame, then one line more.
    EXPECT_TRUE(egret.setExposure(1815));
    EXPECT_EQ(value(0x210), 1816u);
    EXPECT_EQ(value(0x28D), 1u);
    EXPECT_TRUE(egret.setExposure(1816));
    EXPECT_EQ(value(0x210), 1816u);
    EXPECT_EQ(value(0x28D), 10u);
    EXPECT_EQ(rig.camera.BoardRegister(20) | rig.camera.BoardRegister(21) << 8 |
                  rig.camera.BoardRegister(22) << 16 | rig.camera.BoardRegister(23) << 24,
              4'137'590u);

    EXPECT_TRUE(egret.setGain(481));
    EXPECT_EQ(egret.Settings().GlobalGain, 480);
    EXPECT_EQ(rig.camera.SensorRegister(0x404), 0xE0u);
    EXPECT_EQ(rig.camera.SensorRegister(0x405), 0x01u);
}

} // namespace
} // namespace model_test
