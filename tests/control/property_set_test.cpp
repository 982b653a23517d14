// The camera settings property set on an emulated Tern: what each kind of item answers, the
// clamps, the region rule, the colour hand-over to a colour state, and requests that are short,
// unknown or carry values far out of range.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/pipeline/color_state.h"
#include "driver/models/tern/tern_driver.h"
#include "tests/support/driver_fixture.h"

namespace tern_test {
namespace {

class PropertySetTest : public TernTest {
protected:
    void SetUp() override {
        TernTest::SetUp();
        StartAndOpen();
    }
};

TEST_F(PropertySetTest, ModelConstantsAreTheTernsWhateverTheCameraDoes) {
    system_->bus().Unplug(); // constants need no camera
    const std::pair<ULONG, LONG> constants[] = {
        {CAMPROP_EXPOSURE_MIN, 8},         {CAMPROP_EXPOSURE_MAX, 1074},
        {CAMPROP_EXPOSURE_DEFAULT, 64},    {CAMPROP_GAIN_MIN, 0},
        {CAMPROP_GAIN_MAX, 1023},          {CAMPROP_GAIN_DEFAULT, 512},
        {CAMPROP_RGB_GAIN_MIN, 1},         {CAMPROP_RGB_GAIN_MAX, 512},
        {CAMPROP_RGB_GAIN_DEFAULT, 128},   {CAMPROP_BRIGHTNESS_MAX, 510},
        {CAMPROP_BRIGHTNESS_DEFAULT, 255}, {CAMPROP_CONTRAST_MAX, 20},
        {CAMPROP_SATURATION_DEFAULT, 10},  {CAMPROP_HUE_MAX, 359},
        {CAMPROP_SUBSAMPLE_STEPS, 0},      {CAMPROP_SENSOR_WIDTH, 1360},
        {CAMPROP_SENSOR_HEIGHT, 1024},     {CAMPROP_CLOCK_SELECTABLE, 0},
        {CAMPROP_EXTRIGGER_AVAILABLE, 1},  {CAMPROP_FLIP_H_AVAILABLE, 1},
        {CAMPROP_AGC_AVAILABLE, 0},        {CAMPROP_COLOR_GAIN_DIALOG, 0},
    };
    for (const auto& [id, expected] : constants) {
        EXPECT_EQ(Get(id), expected) << "item " << id;
    }
}

TEST_F(PropertySetTest, SettersClampSilently) {
    struct Case {
        ULONG id;
        LONG request;
        LONG stored;
    };
    const Case cases[] = {
        {CAMPROP_RED_GAIN, 0, 1},       {CAMPROP_RED_GAIN, -5, 1},
        {CAMPROP_GREEN_GAIN, 600, 512}, {CAMPROP_BLUE_GAIN, 300, 300},
        {CAMPROP_HUE, 360, 359},        {CAMPROP_HUE, -1, 0},
        {CAMPROP_BRIGHTNESS, -1, 0},    {CAMPROP_BRIGHTNESS, 511, 510},
        {CAMPROP_CONTRAST, 21, 20},     {CAMPROP_SATURATION, INT32_MIN, 0},
        {CAMPROP_EXPOSURE, 0, 8},       {CAMPROP_EXPOSURE, 5000, 1074},
        {CAMPROP_EXPOSURE, -1, 1074},   {CAMPROP_GAIN, 1024, 1023},
        {CAMPROP_GAIN, -1, 1023},       {CAMPROP_EXTRIGGER, 7, 1},
        {CAMPROP_FLIP_H, 3, 3},         {CAMPROP_COLOR_ENABLE, 0, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Set(c.id, c.request), STATUS_SUCCESS);
        EXPECT_EQ(Get(c.id), c.stored) << "item " << c.id << " set to " << c.request;
    }
}

TEST_F(PropertySetTest, TimeoutIsTakenOnlyAboveFiveHundredAndPublishedToTheDriver) {
    ASSERT_EQ(Set(CAMPROP_TIMEOUT, 500), STATUS_SUCCESS);
    EXPECT_EQ(Get(CAMPROP_TIMEOUT), 3000);
    ASSERT_EQ(Set(CAMPROP_TIMEOUT, 501), STATUS_SUCCESS);
    EXPECT_EQ(Get(CAMPROP_TIMEOUT), 501);
    EXPECT_EQ(zyn::tern::TernImage::module.Timeout(), 501u);
    zyn::tern::TernImage::module.SetTimeout(3000);
}

TEST_F(PropertySetTest, TheRegionRuleRoundsClampsAndRewritesTheFormat) {
    ASSERT_EQ(Region(3, 5, 13, 0), STATUS_SUCCESS);
    EXPECT_EQ(Settings().RoiX, 4);
    EXPECT_EQ(Settings().RoiY, 6);
    EXPECT_EQ(Settings().RoiW, 13);
    EXPECT_EQ(Settings().RoiH, 1018);
    EXPECT_EQ(Settings().OutputWidth, 8);
    // Tern always reports the whole sensor as its window.
    EXPECT_EQ(Get(CAMPROP_ROI_X), 0);
    EXPECT_EQ(Get(CAMPROP_ROI_WIDTH), 1360);
    EXPECT_EQ(Get(CAMPROP_ROI_HEIGHT), 1024);

    ASSERT_EQ(Region(10, 20, 100, 1010), STATUS_SUCCESS);
    EXPECT_EQ(Settings().RoiW, 100);
    EXPECT_EQ(Settings().RoiH, 1004);
    EXPECT_EQ(Settings().OutputWidth, 96);

    ASSERT_EQ(Region(0, 0, 1004, 0), STATUS_SUCCESS);
    KS_DATARANGE_VIDEO range{};
    ASSERT_EQ(filter_->VideoRange(0, &range), STATUS_SUCCESS);
    EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biWidth, 1000);
    EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biHeight, 1024);
    EXPECT_EQ(range.DataRange.SampleSize, 1000u * 1024 * 4);
    EXPECT_EQ(range.ConfigCaps.MaxOutputSize.cx, 1000);

    ASSERT_EQ(Region(0, 0, 0, 0), STATUS_SUCCESS);
    EXPECT_EQ(Settings().RoiW, 1360);
    EXPECT_EQ(Settings().RoiH, 1024);
    EXPECT_EQ(Settings().OutputWidth, 1360);
}

TEST_F(PropertySetTest, RegionValuesOfAnySizeStayInsideTheSensor) {
    ASSERT_EQ(Region(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX), STATUS_SUCCESS);
    EXPECT_EQ(Settings().RoiX, 1352);
    EXPECT_EQ(Settings().RoiY, 1016);
    EXPECT_EQ(Settings().RoiW, 8);
    EXPECT_EQ(Settings().RoiH, 8);
    EXPECT_EQ(Settings().SubSample, 0);

    ASSERT_EQ(Region(INT32_MIN, -7, INT32_MIN, -1), STATUS_SUCCESS);
    EXPECT_EQ(Settings().RoiX, 0);
    EXPECT_EQ(Settings().RoiY, 0);
    EXPECT_EQ(Settings().RoiW, 1360);
    EXPECT_EQ(Settings().RoiH, 1024);

    // Narrower than one output step: raised to one, so the format is never empty.
    ASSERT_EQ(Region(100, 0, 3, 2), STATUS_SUCCESS);
    EXPECT_EQ(Settings().RoiW, 8);
    EXPECT_EQ(Settings().OutputWidth, 8);
    EXPECT_EQ(Settings().OutputHeight, 2);
}

TEST_F(PropertySetTest, TheRegionIsLockedWhileAPinExists) {
    ASSERT_EQ(Region(0, 0, 1004, 0), STATUS_SUCCESS);
    InterlockedExchange(&Settings().PinOpen, 1);
    EXPECT_EQ(Get(CAMPROP_REGION_LOCKED), 1);
    EXPECT_EQ(Region(100, 100, 200, 200), STATUS_SUCCESS);
    EXPECT_EQ(Settings().RoiW, 1004);
    EXPECT_EQ(Settings().RoiX, 0);
    InterlockedExchange(&Settings().PinOpen, 0);
}

TEST_F(PropertySetTest, RegisterShadowAndSensorRegisterWrites) {
    ASSERT_EQ(Set(CAMPROP_SENSOR_REGISTER, 300, 0x12345), STATUS_SUCCESS);
    const std::vector<sim::camera::SensorWrite> writes = Emulator().SensorWriteLog();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().address, 300u);
    EXPECT_EQ(writes.back().value, 0x2345u);
    EXPECT_EQ(writes.back().bits, 26);

    ASSERT_EQ(Set(CAMPROP_REGISTER_SHADOW, 300), STATUS_SUCCESS);
    EXPECT_EQ(Get(CAMPROP_REGISTER_SHADOW), 0x12345) << "the shadow keeps the unmasked value";
    for (LONG address : {1024, 2000, -1, INT32_MIN}) {
        ASSERT_EQ(Set(CAMPROP_REGISTER_SHADOW, address), STATUS_SUCCESS);
        EXPECT_EQ(Get(CAMPROP_REGISTER_SHADOW), 0) << address;
    }

    EXPECT_EQ(Set(CAMPROP_SENSOR_REGISTER, 1024, 1), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Set(CAMPROP_SENSOR_REGISTER, -1, 1), STATUS_UNSUCCESSFUL);
    system_->bus().Unplug();
    EXPECT_EQ(Set(CAMPROP_SENSOR_REGISTER, 5, 1), STATUS_UNSUCCESSFUL);
}

TEST_F(PropertySetTest, RawCommandsMemoryBytesAndTheClockReachTheCamera) {
    std::array<uint8_t, 64> bytes{};
    bytes.fill(0xAB);
    Emulator().ClearCommandLog();
    ASSERT_EQ(zyn::host::SendRawCommand(*filter_, 100, bytes).status, STATUS_SUCCESS);
    std::vector<sim::camera::CommandRecord> log = Emulator().CommandLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].bytes[0], 0x40);
    EXPECT_EQ(log[0].bytes[63], 0xAB) << "63 caller bytes at most";

    Emulator().WriteMemory(0x1234, {0x5A});
    ASSERT_EQ(Set(CAMPROP_MEMORY_BYTE, 0x1234), STATUS_SUCCESS);
    uint8_t byte = 0;
    ASSERT_EQ(zyn::host::ReadMemoryByte(*filter_, &byte).status, STATUS_SUCCESS);
    EXPECT_EQ(byte, 0x5A);

    Emulator().SetClockIndex(3);
    EXPECT_EQ(Get(CAMPROP_CLOCK), 2);
    ASSERT_EQ(Set(CAMPROP_CLOCK, 1), STATUS_SUCCESS);
    EXPECT_EQ(Get(CAMPROP_CLOCK), 2) << "the Tern's clock is the camera's";

    system_->bus().Unplug();
    byte = 0x77;
    EXPECT_EQ(zyn::host::ReadMemoryByte(*filter_, &byte).status, STATUS_SUCCESS);
    EXPECT_EQ(byte, 0x77) << "no answer leaves the byte as sent";
    EXPECT_EQ(Get(CAMPROP_CLOCK), 2) << "a failed read reports the stored clock";
    EXPECT_EQ(zyn::host::SendRawCommand(*filter_, 1, bytes).status, STATUS_SUCCESS);
}

TEST_F(PropertySetTest, ACommandTheCameraRefusesKeepsTheLastValueItTook) {
    ASSERT_EQ(Set(CAMPROP_EXPOSURE, 100), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_GAIN, 200), STATUS_SUCCESS);
    system_->bus().Unplug();
    EXPECT_EQ(Set(CAMPROP_EXPOSURE, 300), STATUS_SUCCESS);
    EXPECT_EQ(Set(CAMPROP_GAIN, 400), STATUS_SUCCESS);
    EXPECT_EQ(Set(CAMPROP_EXTRIGGER, 1), STATUS_SUCCESS);
    EXPECT_EQ(Get(CAMPROP_EXPOSURE), 100);
    EXPECT_EQ(Get(CAMPROP_GAIN), 200);
    EXPECT_EQ(Get(CAMPROP_EXTRIGGER), 0);
}

TEST_F(PropertySetTest, ColourValuesGoToTheColourStateAndComeBackFromIt) {
    auto* state = new (NonPagedPool) zyn::ColorState();
    ASSERT_NE(state, nullptr);
    Camera().SetColorState(state);

    ASSERT_EQ(Set(CAMPROP_BRIGHTNESS, 600), STATUS_SUCCESS);
    EXPECT_EQ(state->GetBrightness(), 510) << "the state gets the clamped value";
    ASSERT_EQ(Set(CAMPROP_HUE, 90), STATUS_SUCCESS);
    EXPECT_EQ(state->GetHue(), 90);
    ASSERT_EQ(Set(CAMPROP_COLOR_ENABLE, 0), STATUS_SUCCESS);
    EXPECT_EQ(state->GetColorEnable(), 0);
    ASSERT_EQ(Set(CAMPROP_RED_GAIN, 0), STATUS_SUCCESS);
    EXPECT_EQ(state->GetRedGain(), 1);

    // Automatic white balance moves the state's gains; a get reads them back, and switching
    // the balance off keeps what it found as the manual gains.
    ASSERT_EQ(Set(CAMPROP_WHITE_BALANCE, 1), STATUS_SUCCESS);
    EXPECT_EQ(state->GetWhiteBalance(), 1);
    state->SetRedGain(150);
    state->SetGreenGain(120);
    state->SetBlueGain(200);
    EXPECT_EQ(Get(CAMPROP_GREEN_GAIN), 120);
    ASSERT_EQ(Set(CAMPROP_WHITE_BALANCE, 0), STATUS_SUCCESS);
    EXPECT_EQ(Settings().RedGain, 150);
    EXPECT_EQ(Settings().BlueGain, 200);
    EXPECT_EQ(Get(CAMPROP_RED_GAIN), 150);

    Camera().SetColorState(nullptr);
    delete state;
    // Without a state the record alone holds the value.
    ASSERT_EQ(Set(CAMPROP_CONTRAST, 15), STATUS_SUCCESS);
    EXPECT_EQ(Get(CAMPROP_CONTRAST), 15);
}

TEST_F(PropertySetTest, ShortOrMissingBuffersAndUnknownRequestsGetClearStatuses) {
    CameraPropertyValue record{};
    record.Set = KSPROPSETID_CameraSettings;
    record.Id = CAMPROP_HUE;
    record.Flags = KSPROPERTY_TYPE_GET;
    CameraPropertyValue data = record;

    // The property buffer holds less than the item's record.
    EXPECT_EQ(filter_->RawProperty(&record, 31, &data, sizeof data).status,
              STATUS_INVALID_BUFFER_SIZE);
    // A data buffer shorter than the record, or none: the needed size is reported for none.
    EXPECT_EQ(filter_->RawProperty(&record, sizeof record, &data, 31).status,
              STATUS_BUFFER_TOO_SMALL);
    const PropertyResult sizeQuery = filter_->RawProperty(&record, sizeof record, nullptr, 0);
    EXPECT_EQ(sizeQuery.status, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(sizeQuery.bytes, 32u);
    // The region's record is 48 bytes: a scalar record is too short for it.
    record.Id = CAMPROP_REGION;
    record.Flags = KSPROPERTY_TYPE_SET;
    EXPECT_EQ(filter_->RawProperty(&record, sizeof record, &data, sizeof data).status,
              STATUS_INVALID_BUFFER_SIZE);
    // The raw command's record is 96 bytes.
    uint8_t big[96] = {};
    std::memcpy(big, &record, sizeof record);
    reinterpret_cast<CameraPropertyValue*>(big)->Id = CAMPROP_RAW_COMMAND;
    EXPECT_EQ(filter_->RawProperty(big, sizeof big, &data, sizeof data).status,
              STATUS_BUFFER_TOO_SMALL);

    // Directions an item does not have.
    LONG value;
    EXPECT_EQ(zyn::host::GetValue(*filter_, CAMPROP_REGION, &value).status, STATUS_NOT_FOUND);
    EXPECT_EQ(zyn::host::GetValue(*filter_, CAMPROP_SENSOR_REGISTER, &value).status,
              STATUS_NOT_FOUND);
    EXPECT_EQ(Set(CAMPROP_EXPOSURE_MAX, 5), STATUS_NOT_FOUND);
    // Ids outside the model, and another set.
    EXPECT_EQ(Set(CAMPROP_DOT_THRESHOLD, 5), STATUS_NOT_FOUND);
    record.Set = KSPROPSETID_Pin;
    EXPECT_EQ(filter_->RawProperty(&record, sizeof record, &data, sizeof data).status,
              STATUS_NOT_FOUND);
}

TEST_F(PropertySetTest, AcceptedItemsWithoutEffectChangeNothing) {
    for (ULONG id : {CAMPROP_AGC, CAMPROP_AEC, CAMPROP_COLOR_GAIN_RED, CAMPROP_COLOR_GAIN_BLUE,
                     CAMPROP_RESERVED_47}) {
        EXPECT_EQ(Set(id, 77), STATUS_SUCCESS) << id;
    }
    EXPECT_EQ(Get(CAMPROP_AGC), 0);
    EXPECT_EQ(Get(CAMPROP_COLOR_GAIN_RED), 0);
}

} // namespace
} // namespace tern_test
