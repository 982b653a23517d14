// Stored settings on every model: values the camera has no use for survive a load and a save,
// a stored value is read whatever its registry type, and a trigger choice outlives a board
// that reports the trigger off.
#include <gtest/gtest.h>

#include <cstdio>

#include "driver/protocol/command_codes.h"
#include "tests/support/driver_fixture.h"

namespace model_test {
namespace {

using StoredSettingsTest = ModelDriverTest;

const char* const kModels[] = {"tern", "heron", "plover", "egret"};

std::string SettingsKey() {
    return std::string(ModelDriverTest::kDriverKey) + "\\Settings";
}

TEST_F(StoredSettingsTest, EveryModelKeepsStoredAgcAndAecAndReadsAnyTypeOfFourBytesOrMore) {
    int models = 0;
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Plug(model);
        Store("AGC", 7);
        Store("AEC", 0xFFFFFFFF);
        sim::registry::SetValue(SettingsKey(), "Saturation", REG_BINARY, {3, 0, 0, 0});
        sim::registry::SetValue(SettingsKey(), "Hue", REG_QWORD, {45, 0, 0, 0, 0, 0, 0, 0});
        sim::registry::SetValue(SettingsKey(), "Contrast", REG_BINARY, {12, 0, 0});
        StartAndOpen();
        EXPECT_EQ(Get(CAMPROP_AGC), 7);
        EXPECT_EQ(Get(CAMPROP_AEC), -1);
        EXPECT_EQ(Get(CAMPROP_AGC_AVAILABLE), 0) << "no automatic gain behind the value";
        EXPECT_EQ(Get(CAMPROP_SATURATION), 3);
        EXPECT_EQ(Get(CAMPROP_HUE), 45);
        EXPECT_EQ(Get(CAMPROP_CONTRAST), 10) << "three bytes keep the default";

        // A set has no effect; the save writes back what was read, as a REG_DWORD.
        ASSERT_EQ(Set(CAMPROP_AGC, 1), STATUS_SUCCESS);
        filter_.reset();
        ExpectStored({{"AGC", 7}, {"AEC", 0xFFFFFFFF}, {"Saturation", 3}});
        system_->Stop();
        EXPECT_EQ(Stored("AGC"), 7u);
        sim::registry::UnbindDevice(system_->physicalDevice());
        system_.reset();
        ++models;
    }
    std::printf("stored settings checked on %d models\n", models);
}

TEST_F(StoredSettingsTest, PloverKeepsAStoredTriggerWhileTheBoardReportsItOff) {
    Plug("plover");
    Store("ExTrigger", 1);
    StartAndOpen();
    EXPECT_EQ(Emulator().BoardRegister(zyn::board::kTrigger), 37);
    Emulator().SetBoardRegister(zyn::board::kTrigger, 0); // switched off behind the driver
    EXPECT_EQ(Get(CAMPROP_EXTRIGGER), 1);
    filter_.reset();
    EXPECT_EQ(Stored("ExTrigger"), 1u) << "the user's choice outlives the board's answer";
}

} // namespace
} // namespace model_test
