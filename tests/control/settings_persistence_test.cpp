// Settings in the registry: saved at filter close and stop, loaded at start and on request,
// with the same limits as the property setters and the documented default for every value
// that is missing, out of range or shorter than 4 bytes.
#include <gtest/gtest.h>

#include "driver/control/registry_key.h"
#include "driver/models/tern/tern_driver.h"
#include "tests/support/driver_fixture.h"

namespace tern_test {
namespace {

const std::string kSettings = std::string(TernTest::kDriverKey) + "\\Settings";

using SettingsPersistenceTest = TernTest;

// Every field the registry keeps, as the record holds it.
std::vector<LONG> PersistedFields(const zyn::CameraSettings& s) {
    return {
        s.Timeout,      s.Exposure,        s.GlobalGain, s.FlipH,    s.FlipV,      s.ColorEnable,
        s.WhiteBalance, s.ColorCorrection, s.Brightness, s.Contrast, s.Saturation, s.Hue,
        s.RedGain,      s.GreenGain,       s.BlueGain,   s.AGC,      s.AEC,        s.Clock,
        s.ExTrigger,    s.SubSample,       s.RoiX,       s.RoiY,     s.RoiW,       s.RoiH,
        s.OutputWidth,  s.OutputHeight};
}

TEST_F(SettingsPersistenceTest, ASaveFollowedByALoadLeavesEveryFieldUnchanged) {
    StartAndOpen();
    ASSERT_EQ(Set(CAMPROP_TIMEOUT, 4321), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_EXPOSURE, 1070), STATUS_SUCCESS); // long exposure mode
    ASSERT_EQ(Set(CAMPROP_GAIN, 700), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_FLIP_H, 1), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_FLIP_V, 1), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_COLOR_ENABLE, 0), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_WHITE_BALANCE, 1), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_COLOR_CORRECTION, 0), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_BRIGHTNESS, 300), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_CONTRAST, 12), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_SATURATION, 3), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_HUE, 200), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_RED_GAIN, 100), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_GREEN_GAIN, 140), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_BLUE_GAIN, 512), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_EXTRIGGER, 1), STATUS_SUCCESS);
    ASSERT_EQ(Region(33, 41, 777, 555), STATUS_SUCCESS);
    const std::vector<LONG> before = PersistedFields(Settings());

    ASSERT_TRUE(Camera().saveSettings());
    ASSERT_TRUE(Camera().loadSettings());
    EXPECT_EQ(PersistedFields(Settings()), before);

    // And across a stop and a start, through the registry alone.
    filter_.reset();
    system_->Stop();
    Settings().SetCreationValues(Camera().Traits().limits);
    ASSERT_EQ(system_->Start(), STATUS_SUCCESS);
    EXPECT_EQ(PersistedFields(Settings()), before);
}

TEST_F(SettingsPersistenceTest, StoredValuesOutOfRangeLoadAsTheSettersAllow) {
    using zyn::CameraSettings;
    const struct {
        const char* name;
        uint32_t stored;
        LONG CameraSettings::*field;
        LONG loaded;
    } kValues[] = {
        {"Timeout", 500, &CameraSettings::Timeout, 3000},
        {"RoiX", 5000, &CameraSettings::RoiX, 0},
        {"RoiY", 0xFFFFFFFF, &CameraSettings::RoiY, 0},
        {"RoiW", 0, &CameraSettings::RoiW, 1360},
        {"RoiH", 0x80000000, &CameraSettings::RoiH, 1024},
        {"RedGain", 0, &CameraSettings::RedGain, 1},
        {"Hue", 1000, &CameraSettings::Hue, 359},
        {"Exposure", 2, &CameraSettings::Exposure, 8},
        {"GlobalGain", 5000, &CameraSettings::GlobalGain, 1023},
        {"SubSample", 3, &CameraSettings::SubSample, 0},
    };
    for (const auto& value : kValues) {
        Store(value.name, value.stored);
    }
    StartAndOpen();
    for (const auto& value : kValues) {
        EXPECT_EQ(Settings().*value.field, value.loaded) << value.name;
    }

    Store("Timeout", 10000);
    ASSERT_EQ(Set(CAMPROP_RELOAD_SETTINGS, 1), STATUS_SUCCESS);
    EXPECT_EQ(Settings().Timeout, 3000);
    Store("Timeout", 9999);
    ASSERT_EQ(Set(CAMPROP_RELOAD_SETTINGS, 1), STATUS_SUCCESS);
    EXPECT_EQ(Settings().Timeout, 9999);
    zyn::tern::TernImage::module.SetTimeout(3000);
}

TEST_F(SettingsPersistenceTest, ValuesOfAnyTypeLoadFromTheirFirstFourBytesAndShortOnesAsDefaults) {
    sim::registry::CreateKey(kSettings);
    sim::registry::SetValue(kSettings, "Brightness", REG_DWORD, {0x2C, 0x01});       // 2 bytes
    sim::registry::SetValue(kSettings, "Contrast", REG_SZ, {'1', 0, '5'});           // 3 bytes
    sim::registry::SetValue(kSettings, "Saturation", REG_BINARY, {3, 0, 0, 0});      // binary
    sim::registry::SetValue(kSettings, "Hue", REG_QWORD, {45, 0, 0, 0, 0, 0, 0, 0}); // 8 bytes
    sim::registry::SetValue(kSettings, "RedGain", REG_DWORD, {});                    // empty
    sim::registry::SetValue(kSettings, "GreenGain", REG_DWORD,
                            std::vector<uint8_t>(64, 0x11));                   // long
    sim::registry::SetValue(kSettings, "BlueGain", REG_DWORD, {200, 0, 0, 0}); // fine
    StartAndOpen();
    EXPECT_EQ(Settings().Brightness, 255);
    EXPECT_EQ(Settings().Contrast, 10);
    EXPECT_EQ(Settings().Saturation, 3);
    EXPECT_EQ(Settings().Hue, 45);
    EXPECT_EQ(Settings().RedGain, 128);
    EXPECT_EQ(Settings().GreenGain, 128);
    EXPECT_EQ(Settings().BlueGain, 200);
}

TEST_F(SettingsPersistenceTest, TheTernIgnoresAStoredClockAndSavesTheCamerasOwn) {
    Emulator().SetClockIndex(1);
    Store("Clock", 4);
    StartAndOpen();
    EXPECT_EQ(Settings().Clock, 1);
    filter_.reset();
    EXPECT_EQ(Stored("Clock"), 1u);
}

TEST_F(SettingsPersistenceTest, AFirstLoadCreatesTheSettingsKey) {
    EXPECT_FALSE(sim::registry::KeyExists(kSettings));
    ASSERT_EQ(system_->Start(), STATUS_SUCCESS);
    EXPECT_TRUE(sim::registry::KeyExists(kSettings));
    EXPECT_TRUE(sim::registry::ValueNames(kSettings).empty()) << "a load writes nothing";
}

TEST_F(SettingsPersistenceTest, StoredSettingsReachTheCameraAtStart) {
    Store("Exposure", 500);
    Store("GlobalGain", 65);
    Store("ExTrigger", 1);
    ASSERT_EQ(system_->Start(), STATUS_SUCCESS);
    EXPECT_EQ(Settings().Exposure, 500);
    EXPECT_EQ(Settings().GlobalGain, 65);
    EXPECT_EQ(Settings().ExTrigger, 1);
    EXPECT_EQ(Emulator().BoardRegister(11), 1) << "the trigger input is on";
    EXPECT_EQ(Emulator().SensorRegister(6), 65u & 0x3F);
    EXPECT_EQ(Emulator().SensorRegister(7), 65u >> 6);
}

class RegistryKeyTest : public sim::testing::VerifiedTest {};

TEST_F(RegistryKeyTest, NestedSubkeysAreCreatedOneLevelAtATime) {
    sim::registry::Clear();
    sim::camera::Camera camera(sim::camera::Model::Tern,
                               sim::camera::CameraOptions{std::chrono::nanoseconds{0}, false});
    sim::usb::Bus bus(camera);
    const std::string driverKey = "\\Registry\\Machine\\Test\\0001";
    sim::registry::BindDriverKey(bus.DeviceObject(), driverKey);
    {
        zyn::RegistryKey root;
        EXPECT_EQ(root.OpenDriverKey(bus.DeviceObject()), STATUS_SUCCESS);
        zyn::RegistryKey nested;
        EXPECT_EQ(nested.CreateSubkey(root, L"A\\B\\C"), STATUS_SUCCESS);
        EXPECT_EQ(nested.SetDword(L"Value", 7), STATUS_SUCCESS);
        LONG value = 0;
        EXPECT_TRUE(nested.QueryDword(L"Value", &value));
        EXPECT_EQ(value, 7);
        EXPECT_FALSE(nested.QueryDword(L"Missing", &value));
        zyn::RegistryKey empty;
        EXPECT_EQ(empty.CreateSubkey(root, L""), STATUS_INVALID_PARAMETER);
    }
    EXPECT_TRUE(sim::registry::KeyExists(driverKey + "\\A\\B"));
    EXPECT_EQ(sim::registry::GetDword(driverKey + "\\A\\B\\C", "Value"), 7u);
    sim::registry::UnbindDevice(bus.DeviceObject());
    sim::registry::Clear();
}

} // namespace
} // namespace tern_test
