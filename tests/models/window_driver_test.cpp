// The Heron, Plover and Egret driver images: their descriptors and offered formats, the order
// in which a device start prepares each camera, the property items that differ per model, and
// the settings round trip through the registry with each model's values.
#include <gtest/gtest.h>

#include "driver/protocol/command_codes.h"
#include "driver/core/capture_offer.h"
#include "driver/image/ks_descriptors.h"
#include "driver/models/egret/egret_driver.h"
#include "driver/models/heron/heron_driver.h"
#include "driver/models/plover/plover_driver.h"
#include "tests/support/driver_fixture.h"

namespace model_test {
namespace {

using zyn::CMD_BOARD_READ;
using zyn::CMD_BOARD_WRITE;
using zyn::CMD_INIT_BEGIN;
using zyn::CMD_SENSOR_CONTROL;
using zyn::CMD_START_CONTROL;

constexpr ULONG kWindowPinFlags = 0x10050;

template <class Driver> void ExpectDescriptors(ULONG propertyCount, bool queriesCapabilities) {
    const KSFILTER_DESCRIPTOR& filter = zyn::KsDescriptors<Driver>::kFilter;
    ASSERT_EQ(filter.PinDescriptorsCount, 1u);
    EXPECT_EQ(filter.PinDescriptors[0].Flags, kWindowPinFlags);
    EXPECT_EQ(filter.AutomationTable->PropertySets[0].PropertiesCount, propertyCount);
    EXPECT_EQ(zyn::KsDescriptors<Driver>::kDeviceDispatch.QueryCapabilities != nullptr,
              queriesCapabilities);
}

TEST(WindowModelImages, DescribeTheirItemsPinAndCapabilities) {
    ExpectDescriptors<zyn::heron::HeronDriver>(61, false);
    ExpectDescriptors<zyn::plover::PloverDriver>(71, true);
    ExpectDescriptors<zyn::egret::EgretDriver>(61, false);
}

using WindowDriverTest = ModelDriverTest;

TEST_F(WindowDriverTest, AFreshDeviceOffersItsFullSensor) {
    struct Expected {
        const char* model;
        LONG width, height;
        ULONG imageBytes;
        LONG bitsPerSecond;
    };
    const Expected models[] = {
        {"heron", 2448, 2048, 20'054'016, 517'996'544},
        {"plover", 1328, 1048, 5'566'976, 1'336'074'240},
        {"egret", 2048, 1536, 12'582'912, static_cast<LONG>(0xB4000000u)},
    };
    for (const Expected& m : models) {
        SCOPED_TRACE(m.model);
        Plug(m.model);
        ASSERT_EQ(system_->Add(), STATUS_SUCCESS);
        const KS_DATARANGE_VIDEO& range = Camera().Offer()->Range();
        EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biWidth, m.width);
        EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biHeight, m.height);
        EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biSizeImage, m.imageBytes);
        EXPECT_EQ(range.ConfigCaps.MinBitsPerSecond, m.bitsPerSecond);
        EXPECT_EQ(range.VideoInfoHeader.AvgTimePerFrame, 333333);
        DEVICE_CAPABILITIES capabilities{};
        capabilities.Removable = 1;
        ASSERT_EQ(system_->device()->QueryCapabilities(&capabilities), STATUS_SUCCESS);
        EXPECT_EQ(capabilities.Removable, std::string(m.model) == "plover" ? 0u : 1u);
        system_.reset();
    }
}

TEST_F(WindowDriverTest, HeronStartsInitialisesAndKeepsItsSettingsInTheSensor) {
    Plug("heron");
    StartAndOpen();
    // The board is started and told of the initialisation before the sensor is powered.
    const std::vector<sim::camera::CommandRecord> log = Emulator().CommandLog();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0].code(), CMD_START_CONTROL);
    EXPECT_EQ(log[1].code(), CMD_BOARD_WRITE);
    EXPECT_EQ(log[1].bytes[1], zyn::board::kStartMode);
    EXPECT_EQ(log[1].bytes[2], 4);
    EXPECT_EQ(log[2].code(), CMD_INIT_BEGIN);
    EXPECT_EQ(log[3].code(), CMD_SENSOR_CONTROL);
    EXPECT_FALSE(Camera().Initializing());
    EXPECT_TRUE(Emulator().Status().sensorStreaming);

    // Items beyond 60 are not Heron's.
    EXPECT_EQ(GetStatus(CAMPROP_MEMORY_BYTE), STATUS_SUCCESS);
    EXPECT_EQ(GetStatus(CAMPROP_COLOR_GAIN_MIN), STATUS_NOT_FOUND);
    EXPECT_EQ(GetStatus(CAMPROP_DOT), STATUS_NOT_FOUND);
    EXPECT_EQ(Get(CAMPROP_SUBSAMPLE_STEPS), 1);
    EXPECT_EQ(Get(CAMPROP_RGB_GAIN_MAX), 255);

    ASSERT_EQ(Set(CAMPROP_FLIP_H, 1), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_FLIP_V, 1), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_EXPOSURE, 40000), STATUS_SUCCESS);
    EXPECT_EQ(Get(CAMPROP_EXPOSURE), 32767);
    ASSERT_EQ(Set(CAMPROP_EXTRIGGER, 1), STATUS_SUCCESS);
    EXPECT_EQ(Emulator().BoardRegister(zyn::board::kTrigger), 17);
    ASSERT_EQ(Region(10, 7, 333, 201), STATUS_SUCCESS);
    EXPECT_EQ(Get(CAMPROP_ROI_X), 12);
    EXPECT_EQ(Get(CAMPROP_ROI_HEIGHT), 204);

    // Gain and registers are the sensor's: reads go to it, and writes reach all of it.
    ASSERT_EQ(Set(CAMPROP_GAIN, 300), STATUS_SUCCESS);
    Emulator().SetSensorRegister(0x404, 0x22);
    EXPECT_EQ(Get(CAMPROP_GAIN), 0x122);
    EXPECT_EQ(Set(CAMPROP_SENSOR_REGISTER, 0x1234, 0x5A), STATUS_SUCCESS);
    EXPECT_EQ(Emulator().SensorRegister(0x1234), 0x5Au);
    EXPECT_EQ(Set(CAMPROP_SENSOR_REGISTER, 0x10000, 1), STATUS_UNSUCCESSFUL);
    ASSERT_EQ(Set(CAMPROP_REGISTER_SHADOW, 0x20E), STATUS_SUCCESS);
    EXPECT_EQ(Get(CAMPROP_REGISTER_SHADOW), 0) << "both read-out directions reversed";

    filter_.reset(); // saves
    EXPECT_EQ(StoredCount(), 24u);
    ExpectStored({
        {"FlipH", 1},
        {"GlobalGain", 0x122},
        {"Exposure", 32767},
        {"ExTrigger", 1},
        {"RoiX", 12},
        {"RoiW", 336},
    });

    // The next start programs what is stored.
    system_->Stop();
    Store("FlipH", 0);
    Store("GlobalGain", 77);
    ASSERT_EQ(system_->Start(), STATUS_SUCCESS);
    EXPECT_EQ(Emulator().SensorRegister(0x20E), 2u) << "mirror off, flip on";
    EXPECT_EQ(Settings().FlipH, 0);
    EXPECT_EQ(Settings().FlipV, 1);
    EXPECT_EQ(Camera().BayerPhase(), 0);
    EXPECT_EQ(Emulator().SensorRegister(0x404), 77u);
    EXPECT_EQ(Emulator().BoardRegister(zyn::board::kTrigger), 17);
    EXPECT_EQ(Settings().RoiX, 12);
    EXPECT_EQ(Settings().OutputWidth, 336);
}

TEST_F(WindowDriverTest, EgretStoresTheBinnedMode) {
    Plug("egret");
    StartAndOpen();
    const std::vector<sim::camera::CommandRecord> log = Emulator().CommandLog();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[2].code(), CMD_INIT_BEGIN);
    EXPECT_EQ(log[3].code(), CMD_SENSOR_CONTROL);
    EXPECT_EQ(log[4].code(), zyn::CMD_SENSOR_WRITE);
    EXPECT_EQ(GetStatus(CAMPROP_COLOR_GAIN_MIN), STATUS_NOT_FOUND);

    ASSERT_EQ(Region(0, 0, 0, 0, 1), STATUS_SUCCESS);
    EXPECT_EQ(Get(CAMPROP_SUBSAMPLE), 1);
    EXPECT_EQ(Get(CAMPROP_ROI_WIDTH), 2048);
    filter_.reset();
    ExpectStored({{"SubSample", 1}, {"RoiW", 1024}, {"RoiH", 768}});

    system_->Stop();
    ASSERT_EQ(system_->Start(), STATUS_SUCCESS);
    EXPECT_EQ(Settings().SubSample, 1);
    EXPECT_EQ(Settings().RoiW, 1024);
    EXPECT_EQ(Settings().RoiH, 768);
    Open();
    EXPECT_EQ(Set(CAMPROP_RELOAD_SETTINGS, 1), STATUS_NOT_FOUND) << "not an Egret item";
}

TEST_F(WindowDriverTest, PloverPreparesItsSensorAndKeepsClockAndDotFilter) {
    Plug("plover");
    StartAndOpen();
    // The sensor is initialised at device start, reading the firmware version first.
    const std::vector<sim::camera::CommandRecord> log = Emulator().CommandLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0].code(), CMD_INIT_BEGIN);
    EXPECT_EQ(log[1].code(), CMD_BOARD_READ);
    EXPECT_EQ(log[1].bytes[1], 29);
    EXPECT_FALSE(Camera().Initializing());

    EXPECT_EQ(GetStatus(CAMPROP_DOT_THRESHOLD), STATUS_SUCCESS);
    EXPECT_EQ(GetStatus(CAMPROP_DOT_THRESHOLD + 1), STATUS_NOT_FOUND);
    EXPECT_EQ(Get(CAMPROP_CLOCK_SELECTABLE), 1);

    ASSERT_EQ(Set(CAMPROP_CLOCK, 3), STATUS_SUCCESS);
    EXPECT_EQ(Emulator().BoardRegister(zyn::board::kClockIndex), 3);
    EXPECT_EQ(Get(CAMPROP_CLOCK), 3);
    ASSERT_EQ(Set(CAMPROP_EXTRIGGER, 1), STATUS_SUCCESS);
    EXPECT_EQ(Emulator().BoardRegister(zyn::board::kTrigger), 37);
    Emulator().SetBoardRegister(zyn::board::kTrigger, 0); // switched off behind the driver
    EXPECT_EQ(Get(CAMPROP_EXTRIGGER), 1) << "the record keeps the choice";
    ASSERT_EQ(Set(CAMPROP_EXTRIGGER, 1), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_EXPOSURE, 100000), STATUS_SUCCESS);
    EXPECT_EQ(Get(CAMPROP_EXPOSURE), 8191);
    ASSERT_EQ(Set(CAMPROP_GAIN, 100), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_DOT, 1), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_DOT_THRESHOLD, 40), STATUS_SUCCESS);
    ASSERT_EQ(Region(101, 53, 403, 301), STATUS_SUCCESS);

    filter_.reset();
    EXPECT_EQ(StoredCount(), 26u);
    ExpectStored({
        {"Clock", 3},
        {"Dot", 1},
        {"DotThreshold", 40},
        {"Exposure", 8191},
        {"GlobalGain", 100},
        {"ExTrigger", 1},
        {"RoiW", 403},
    });

    system_->Stop();
    Store("Clock", 4);
    Store("DotThreshold", 25);
    ASSERT_EQ(system_->Start(), STATUS_SUCCESS);
    EXPECT_EQ(Emulator().BoardRegister(zyn::board::kClockIndex), 4);
    EXPECT_EQ(Settings().Clock, 4);
    EXPECT_EQ(Settings().Dot, 1);
    EXPECT_EQ(Settings().DotThreshold, 25);
    EXPECT_EQ(Settings().GlobalGain, 100);
    EXPECT_EQ(Emulator().SensorRegister(0x1E), 0x3Fu);
    EXPECT_EQ(Emulator().BoardRegister(zyn::board::kTrigger), 37);
    EXPECT_EQ(Settings().RoiX, 101);
    EXPECT_EQ(Settings().OutputWidth, 400);

    // A reload initialises the sensor again before it loads; Plover has no sub-sampling.
    Open();
    Store("SubSample", 1);
    Emulator().ClearCommandLog();
    ASSERT_EQ(Set(CAMPROP_RELOAD_SETTINGS, 1), STATUS_SUCCESS);
    ASSERT_FALSE(Emulator().CommandLog().empty());
    EXPECT_EQ(Emulator().CommandLog()[0].code(), CMD_INIT_BEGIN);
    EXPECT_EQ(Get(CAMPROP_SUBSAMPLE), 0);
    EXPECT_EQ(Get(CAMPROP_ROI_WIDTH), 403);
}

} // namespace
} // namespace model_test
