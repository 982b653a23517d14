// The Heron driver's sensor programming on the emulated Heron camera: initialisation, windows,
// binning, flips in the sensor with the colour phase that follows, exposure, gain and trigger.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "driver/control/window_region_rule.h"
#include "driver/models/heron/heron_driver.h"
#include "driver/protocol/command_codes.h"
#include "sim/camera/usb_descriptors.h"
#include "tests/models/ideal_readout.h"

namespace model_test {
namespace {

using zyn::crop::CropSensorCameraDevice;
using namespace std::chrono_literals;

constexpr Filter kHeronFilter = {1, true}; // BGGR at the active area's top-left corner

class HeronTest : public DeviceTest {
protected:
    // A Heron whose camera is powered and streaming, as the device start leaves it, without
    // the half second of the sensor's power-up.
    CropSensorCameraDevice& StreamingHeron() {
        DeviceRig& rig = MakeRig(Model::Heron);
        rig.camera.PrepareStreaming(0);
        rig_ = &rig;
        return rig.As<CropSensorCameraDevice>();
    }
    DeviceRig& Rig() { return *rig_; }
    // The detailed scene, in front of the camera.
    const imaging::RgbImage& ShowDetailedScene() {
        const imaging::RgbImage& scene = DetailedScene(Model::Heron);
        rig_->camera.SetScene(scene);
        return scene;
    }

    void SetRegion(LONG subSample, LONG x, LONG y, LONG width, LONG height) {
        zyn::CameraDevice& device = rig_->Device();
        zyn::ApplyWindowRegion(device.Settings(), device.Traits().limits,
                               device.Traits().windowRegion, {subSample, x, y, width, height});
    }

    NTSTATUS Start() {
        const zyn::CameraSettings& s = rig_->Device().Settings();
        return rig_->Device().StartCapture(nullptr, s.RoiW, s.RoiH);
    }
    // Starts the camera on the region; the raw frame has lines of `pitch` bytes, `lines` of them.
    void StartOn(LONG subSample, LONG x, LONG y, LONG width, LONG height, ULONG pitch,
                 ULONG lines) {
        SetRegion(subSample, x, y, width, height);
        ASSERT_EQ(Start(), STATUS_SUCCESS);
        EXPECT_EQ(rig_->Device().GetRawFramePitch(), pitch);
        EXPECT_EQ(rig_->Device().GetRawFrameSize(), pitch * lines);
    }

    ULONG SensorValue(ULONG first, int bytes) const {
        ULONG value = 0;
        for (int i = bytes - 1; i >= 0; --i) {
            value = value << 8 | rig_->camera.SensorRegister(first + i);
        }
        return value;
    }
    ULONG BoardValue(UCHAR first) const {
        ULONG value = 0;
        for (int i = 3; i >= 0; --i) {
            value = value << 8 | rig_->camera.BoardRegister(static_cast<uint8_t>(first + i));
        }
        return value;
    }

private:
    DeviceRig* rig_ = nullptr;
};

TEST_F(HeronTest, DeviceStartPowersTheSensorLoadsTheMakersTableAndStreamsTheFullSensor) {
    DeviceRig& rig = MakeRig(Model::Heron);
    auto& heron = rig.As<CropSensorCameraDevice>();
    EXPECT_TRUE(heron.Initializing());
    const imaging::RgbImage& scene = DetailedScene(Model::Heron);
    rig.camera.SetScene(scene);

    heron.PrepareAtDeviceStart();
    EXPECT_FALSE(heron.Initializing());

    // The board is started, told an initialisation follows, and the sensor is powered and
    // released before anything is written to it.
    const std::vector<sim::camera::CommandRecord> log = rig.camera.CommandLog();
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[0].code(), zyn::CMD_START_CONTROL);
    EXPECT_EQ(log[1].code(), zyn::CMD_BOARD_WRITE);
    EXPECT_EQ(log[2].code(), zyn::CMD_INIT_BEGIN);
    EXPECT_EQ(log[3].code(), zyn::CMD_SENSOR_CONTROL);
    EXPECT_EQ(log[3].bytes[1], 0x20);
    EXPECT_EQ(log[4].code(), zyn::CMD_SENSOR_CONTROL);
    EXPECT_EQ(log[4].bytes[1], 0x60);
    ASSERT_EQ(log[5].code(), zyn::CMD_SENSOR_WRITE);
    EXPECT_GE(log[5].time - log[4].time, 500ms) << "the sensor needs half a second to power up";

    // The maker's table: about two hundred writes from 0x201 to 0x129E, then the exposure
    // set-up, a little later.
    const std::vector<sim::camera::SensorWrite> writes = rig.SensorWrites();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front().address, 0x201u);
    const auto end = std::find_if(writes.begin(), writes.end(),
                                  [](const auto& w) { return w.address == 0x289; });
    ASSERT_NE(end, writes.end());
    const auto table = end - writes.begin();
    EXPECT_GE(table, 180);
    EXPECT_LE(table, 220);
    EXPECT_EQ((end - 1)->address, 0x129Eu);
    EXPECT_TRUE(std::all_of(writes.begin(), end, [](const auto& w) {
        return w.address >= 0x201 && w.address <= 0x129E;
    }));

    // The camera start that follows reads the whole sensor, upright.
    EXPECT_EQ(heron.GetRawFrameSize(), 5'013'504u);
    EXPECT_EQ(heron.GetRawFramePitch(), 2448u);
    EXPECT_TRUE(DeliversIdealReadout(rig, IdealRead(scene, kHeronFilter, {0, 0, 2448, 2048})));
}

TEST_F(HeronTest, AWindowIsReadTheWayTheFlipsAskWithItsColours) {
    CropSensorCameraDevice& heron = StreamingHeron();
    const imaging::RgbImage& scene = ShowDetailedScene();
    ASSERT_NO_FATAL_FAILURE(StartOn(0, 200, 120, 640, 480, 640, 480));

    const LONG phases[2][2] = {{1, 0}, {3, 2}}; // [FlipH][FlipV]
    for (LONG flipH : {0, 1}) {
        for (LONG flipV : {0, 1}) {
            ASSERT_TRUE(heron.setFlipH(flipH));
            ASSERT_TRUE(heron.setFlipV(flipV));
            EXPECT_EQ(heron.BayerPhase(), phases[flipH][flipV]);
            EXPECT_TRUE(DeliversIdealReadout(
                Rig(), IdealRead(scene, kHeronFilter, {200, 120, 640, 480}, 1, flipH, flipV)))
                << "FlipH " << flipH << " FlipV " << flipV;
        }
    }
}

TEST_F(HeronTest, ARegionOffTheCropStepsArrivesWholeAndInItsColours) {
    CropSensorCameraDevice& heron = StreamingHeron();
    const imaging::RgbImage& scene = ShowDetailedScene();

    // The region rule moves the region onto the steps the crop registers count in.
    SetRegion(0, 10, 7, 333, 201);
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    EXPECT_TRUE(DeliversIdealReadout(Rig(), IdealRead(scene, kHeronFilter, {12, 8, 336, 204})));

    // A region that is not on them reads the window around it; pitch and phase describe that
    // window, so the region's pixels arrive unsheared and in their colours.
    zyn::CameraSettings& settings = heron.Settings();
    settings.RoiX = 10;
    settings.RoiY = 7;
    settings.RoiW = 333;
    settings.RoiH = 201;
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    const sim::camera::FrameGeometry camera = Rig().camera.Geometry();
    EXPECT_EQ(heron.GetRawFramePitch(), static_cast<ULONG>(camera.pitch));
    EXPECT_EQ(heron.BayerPhase(), camera.phase);
    EXPECT_GE(heron.GetRawFrameSize(), camera.PictureBytes());
    EXPECT_TRUE(DeliversIdealReadout(Rig(), IdealRead(scene, kHeronFilter, {12, 8, 333, 201})));
}

TEST_F(HeronTest, BinningReadsTheWholeSensorAtHalfSize) {
    CropSensorCameraDevice& heron = StreamingHeron();
    const imaging::RgbImage& scene = ShowDetailedScene();
    ASSERT_NO_FATAL_FAILURE(StartOn(1, 0, 0, 0, 0, 1232, 1024));

    for (LONG flip : {0, 1}) {
        ASSERT_TRUE(heron.setFlipH(flip));
        ASSERT_TRUE(heron.setFlipV(flip));
        EXPECT_TRUE(DeliversIdealReadout(
            Rig(), IdealRead(scene, kHeronFilter, {0, 0, 2448, 2048}, 2, flip, flip)))
            << "flips " << flip;
    }
}

TEST_F(HeronTest, ExposureIsLimitedAndTimesTheFrameAndTheTrigger) {
    CropSensorCameraDevice& heron = StreamingHeron();
    ASSERT_EQ(Start(), STATUS_SUCCESS); // full window: 2047 lines of 4368 clocks
    EXPECT_EQ(heron.FrameLength(), 2047u);
    EXPECT_EQ(heron.LineLength(), 4368u);

    EXPECT_TRUE(heron.setExposure(0));
    EXPECT_EQ(heron.Settings().Exposure, 1);
    EXPECT_EQ(SensorValue(0x210, 3), 2367u); // the frame: 2047 lines and 320 more
    EXPECT_EQ(SensorValue(0x28D, 3), 2366u); // the shutter opens one line before its end
    EXPECT_EQ(BoardValue(20), 2255u);        // the shortest exposure's board timing

    EXPECT_TRUE(heron.setExposure(40000));
    EXPECT_EQ(heron.Settings().Exposure, 32767);
    EXPECT_EQ(SensorValue(0x210, 3), 32767u); // the frame stretches to the exposure
    EXPECT_EQ(SensorValue(0x28D, 3), 10u);
    EXPECT_EQ(BoardValue(20), 96'380'630u);

    EXPECT_TRUE(heron.setExposure(-5));
    EXPECT_EQ(heron.Settings().Exposure, 32767);
}

// The camera's frame period and exposure time follow a region change, and its picture level
// the exposure, as the registers the driver leaves program them (in full-window frame periods).
TEST_F(HeronTest, ARegionChangeRetimesTheFrameAndTheExposureSetsTheLevel) {
    CropSensorCameraDevice& heron = StreamingHeron();
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    EXPECT_TRUE(heron.setExposure(500));
    constexpr double kFullFrame = (2047.0 + 320) * 4368;
    EXPECT_NEAR(Rig().camera.Timing().framePeriod, 1.0, 1e-9);

    SetRegion(0, 200, 120, 640, 480);
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    const double line = (640 + 464) * 3 / 2;
    const sim::camera::SensorTiming timing = Rig().camera.Timing();
    EXPECT_NEAR(timing.framePeriod, (479 + 320) * line / kFullFrame, 1e-9);
    EXPECT_NEAR(timing.exposureTime, 500 * line / kFullFrame, 1e-9);
    EXPECT_EQ(BoardValue(20), (500ull * static_cast<ULONG>(line) * 10000 / 74250 - 137) * 5);

    imaging::RgbImage grey(2448, 2048);
    std::fill(grey.pixels.begin(), grey.pixels.end(), 60);
    Rig().camera.SetScene(grey);
    const auto mean = [this] {
        const std::vector<uint8_t> frame = Rig().ReadFrame();
        double sum = 0;
        for (size_t i = 0; i < 640 * 480; ++i) {
            sum += frame.at(i);
        }
        return sum / (640 * 480);
    };
    EXPECT_TRUE(heron.setExposure(1)); // the shortest: the scene as it is
    const double base = mean();
    EXPECT_NEAR(base, 60, 0.5);
    EXPECT_TRUE(heron.setExposure(2));
    EXPECT_NEAR(mean() / base, 2.0, 0.04);
}

TEST_F(HeronTest, GainIsCutAndReadBackFromTheSensor) {
    CropSensorCameraDevice& heron = StreamingHeron();
    EXPECT_TRUE(heron.setGain(1000));
    EXPECT_EQ(heron.Settings().GlobalGain, 480);
    EXPECT_EQ(Rig().camera.SensorRegister(0x404), 0xE0u);
    EXPECT_EQ(Rig().camera.SensorRegister(0x405), 0x01u);
    EXPECT_TRUE(heron.setGain(-1));
    EXPECT_EQ(heron.Settings().GlobalGain, 480);

    // The sensor's own value wins, and each read gives the sensor its time.
    Rig().camera.SetSensorRegister(0x404, 0x34);
    Rig().camera.SetSensorRegister(0x405, 0x01);
    Rig().camera.ClearCommandLog();
    LONG gain = 0;
    ASSERT_TRUE(heron.readGain(&gain));
    EXPECT_EQ(gain, 0x134);
    EXPECT_EQ(heron.Settings().GlobalGain, 0x134);
    const std::vector<sim::camera::CommandRecord> log = Rig().camera.CommandLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].code(), zyn::CMD_SENSOR_READ);
    EXPECT_EQ(log[0].bytes[1], 0x04);
    EXPECT_EQ(log[0].bytes[2], 0x04);
    EXPECT_GE(log[1].time - log[0].time, 12ms);
}

TEST_F(HeronTest, SensorRegistersAreAddressedWithSixteenBits) {
    CropSensorCameraDevice& heron = StreamingHeron();
    Rig().camera.ClearCommandLog();
    EXPECT_TRUE(heron.writeSensorRegister(0x1234, 0x1AB));
    EXPECT_FALSE(heron.writeSensorRegister(0x10000, 1));
    ULONG value = 0;
    EXPECT_FALSE(heron.readSensorRegister(0x10000, &value));
    const std::vector<sim::camera::CommandRecord> log = Rig().camera.CommandLog();
    ASSERT_EQ(log.size(), 1u) << "out-of-range addresses send nothing";
    const uint8_t expected[] = {zyn::CMD_SENSOR_WRITE, 0x12, 0x34, 0xAB, 0};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), log[0].bytes.begin()));
    ASSERT_TRUE(heron.readSensorRegister(0x1234, &value));
    EXPECT_EQ(value, 0xAB);
}

TEST_F(HeronTest, TheTriggerInputGatesTheFrames) {
    CropSensorCameraDevice& heron = StreamingHeron();
    SetRegion(0, 0, 0, 256, 128);
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    zyn::DriverGlobals& globals = zyn::heron::HeronImage::module;
    const ULONG timeout = globals.Timeout();
    globals.SetTimeout(150);

    ASSERT_TRUE(heron.setExternalTrigger(5));
    EXPECT_EQ(heron.Settings().ExTrigger, 1);
    EXPECT_EQ(Rig().camera.BoardRegister(zyn::board::kTrigger), 17);
    EXPECT_EQ(Rig().camera.SensorRegister(0x20B), 1u);
    EXPECT_TRUE(Rig().ReadFrame().empty()) << "no frame without a trigger";
    // A pulse while a read waits brings the frame.
    globals.SetTimeout(10000);
    auto reading = std::async(std::launch::async, [this] { return Rig().ReadFrame(); });
    ASSERT_TRUE(Rig().bus.WaitForPendingTransfers(sim::camera::kDataEndpoint, 1, 10s));
    ASSERT_TRUE(Rig().camera.FireTrigger());
    EXPECT_FALSE(reading.get().empty());

    ASSERT_TRUE(heron.setExternalTrigger(0));
    EXPECT_EQ(heron.Settings().ExTrigger, 0);
    EXPECT_EQ(Rig().camera.BoardRegister(zyn::board::kTrigger), 0);
    EXPECT_FALSE(Rig().ReadFrame().empty());
    globals.SetTimeout(timeout);
}

TEST_F(HeronTest, ACameraThatStopsAnsweringKeepsTheLastAcceptedSettings) {
    CropSensorCameraDevice& heron = StreamingHeron();
    ASSERT_TRUE(heron.setGain(100));
    Rig().bus.Unplug();

    EXPECT_FALSE(heron.setFlipH(1));
    EXPECT_EQ(heron.Settings().FlipH, 0);
    EXPECT_EQ(heron.BayerPhase(), 1);
    EXPECT_FALSE(heron.setFlipV(1));
    EXPECT_EQ(heron.Settings().FlipV, 0);
    EXPECT_FALSE(heron.setGain(200));
    LONG gain = 0;
    EXPECT_FALSE(heron.readGain(&gain));
    EXPECT_EQ(heron.Settings().GlobalGain, 100);
    EXPECT_FALSE(heron.setExternalTrigger(1));
    EXPECT_EQ(heron.Settings().ExTrigger, 0);
    // Exposure is stored whatever the camera does.
    EXPECT_TRUE(heron.setExposure(500));
    EXPECT_EQ(heron.Settings().Exposure, 500);
    EXPECT_EQ(Start(), STATUS_UNSUCCESSFUL);
}

} // namespace
} // namespace model_test
