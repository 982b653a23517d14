#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>
#include <string>

#include "driver/models/tern/tern_sensor_table.h"
#include "driver/pipeline/color_state.h"
#include "tests/support/camera_rig.h"
#include "tests/models/tern_device_fixture.h"

namespace {

using namespace tern_test;
using Events = std::vector<Event>;

void Append(Events& events, const Events& more) {
    events.insert(events.end(), more.begin(), more.end());
}

// The Tern sensor initialisation for a camera whose board reports `clock`: the golden
// sequence up to the clock read, then what the clock changes.
Events ExpectedInitialisation(int clock) {
    Events e;
    std::ifstream golden(ZYN_TESTDATA "/tern/sensor_initialisation.txt");
    EXPECT_TRUE(golden.is_open());
    std::string line;
    while (std::getline(golden, line)) {
        std::istringstream fields(line);
        std::string kind, reg, value;
        if (line.empty() || line[0] == '#' || !(fields >> kind >> reg >> value)) {
            continue;
        }
        const auto a = static_cast<uint32_t>(std::stoul(reg, nullptr, 0));
        const auto b = static_cast<uint32_t>(std::stoul(value, nullptr, 0));
        e.push_back(kind == "board" ? B(a, b) : S(a, b));
    }
    e.push_back(R(15));
    if (clock == 1) {
        Append(e, {S(25, 24), S(26, 1)});
    } else if (clock == 2) {
        Append(e, {S(25, 42), S(26, 1), S(17, 24), S(19, 15)});
    } else {
        Append(e, {S(25, 32), S(26, 1)});
    }
    Append(e, {S(32, 11), S(24, 15)});
    return e;
}

const Events kLongMode = {S(154, 1), S(157, 0), S(158, 7), S(159, 0),
                          S(160, 1), S(161, 7), S(162, 0), S(163, 1)};
const Events kNormalMode = {S(154, 0), S(155, 7), S(157, 1), S(160, 1), S(163, 0)};

Events NormalExposure(uint32_t e) {
    return {S(158, e & 63), S(159, e >> 6), S(161, e & 63), S(162, e >> 6)};
}

TEST(TernSequencerProgram, StartsAndEndsWithTheBoardMakersSteps) {
    const auto& p = zyn::tern::kSequencerProgram;
    EXPECT_EQ(p[0], 0x32019u);
    EXPECT_EQ(p[1], 0x72032u);
    EXPECT_EQ(p[475], 0x3C6F9u);
    EXPECT_EQ(p[476], 0x7A6FDu);
    EXPECT_EQ(p[477], 0x3FE6FEu);
    for (size_t i = 0; i < 478; ++i) {
        ASSERT_LT(p[i], 1u << 22) << i;
        if (i > 0) {
            ASSERT_GT(p[i] & 0xFFF, p[i - 1] & 0xFFF) << "step " << i << " goes back in time";
        }
    }
}

TEST_F(TernDeviceTest, SensorWordCarriesIndexAndDataInTheBankWidth) {
    ASSERT_TRUE(device_->writeSensorRegister(300, 0x12345));
    auto log = rig_->camera.CommandLog();
    ASSERT_EQ(log.size(), 1u);
    const std::array<uint8_t, 6> expected = {0x04, 26, 0x2C, 0x15, 0x8D, 0x00};
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), log[0].bytes.begin()));
    EXPECT_EQ(device_->Settings().RegisterShadow[300], 0x12345) << "the shadow keeps it unmasked";
    EXPECT_EQ(rig_->camera.SensorRegister(300), 0x2345u);

    const std::pair<ULONG, uint8_t> banks[] = {{0, 16},   {255, 16}, {256, 26},
                                               {383, 26}, {384, 32}, {1023, 32}};
    for (auto [index, bits] : banks) {
        rig_->camera.ClearCommandLog();
        ASSERT_TRUE(device_->writeSensorRegister(index, 0xFFFFFFFF));
        log = rig_->camera.CommandLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].bytes[1], bits) << index;
        const uint32_t mask = index < 256 ? 0x3F : index < 384 ? 0xFFFF : 0x3FFFFF;
        EXPECT_EQ(rig_->camera.SensorRegister(index), mask) << index;
    }

    rig_->camera.ClearCommandLog();
    EXPECT_FALSE(device_->writeSensorRegister(1024, 1));
    EXPECT_FALSE(device_->writeSensorRegister(0xFFFFFFFF, 1));
    EXPECT_TRUE(rig_->camera.CommandLog().empty());
}

TEST_F(TernDeviceTest, ExposureIsClampedAndSwitchesModeOnlyWhenCrossing1068) {
    ASSERT_TRUE(device_->setExposure(0));
    EXPECT_EQ(TakeEvents(), NormalExposure(8));
    EXPECT_EQ(device_->Settings().Exposure, 8);

    ASSERT_TRUE(device_->setExposure(1068));
    EXPECT_EQ(TakeEvents(), NormalExposure(1068));

    ASSERT_TRUE(device_->setExposure(1069));
    Events expected = kLongMode;
    expected.push_back(S(155, 2));
    EXPECT_EQ(TakeEvents(), expected);
    EXPECT_EQ(device_->Settings().Exposure, 1069);

    ASSERT_TRUE(device_->setExposure(1070));
    EXPECT_EQ(TakeEvents(), Events{S(155, 3)});

    ASSERT_TRUE(device_->setExposure(5000));
    EXPECT_EQ(TakeEvents(), Events{S(155, 7)});
    EXPECT_EQ(device_->Settings().Exposure, 1074);

    ASSERT_TRUE(device_->setExposure(100));
    expected = kNormalMode;
    Append(expected, NormalExposure(100));
    EXPECT_EQ(TakeEvents(), expected);

    // Compared unsigned: a negative request is a very long one.
    ASSERT_TRUE(device_->setExposure(-1));
    expected = kLongMode;
    expected.push_back(S(155, 7));
    EXPECT_EQ(TakeEvents(), expected);
    EXPECT_EQ(device_->Settings().Exposure, 1074);
}

TEST_F(TernDeviceTest, FailedExposureOrGainKeepsTheLastAcceptedValue) {
    ASSERT_TRUE(device_->setExposure(500));
    ASSERT_TRUE(device_->setGain(300));
    rig_->bus.Unplug();
    EXPECT_FALSE(device_->setExposure(900));
    EXPECT_FALSE(device_->setGain(20));
    EXPECT_EQ(device_->Settings().Exposure, 500);
    EXPECT_EQ(device_->Settings().GlobalGain, 300);
}

TEST_F(TernDeviceTest, GainIsCutTo1023AndSplitOverTwoRegisters) {
    ASSERT_TRUE(device_->setGain(1024));
    EXPECT_EQ(TakeEvents(), (Events{S(6, 63), S(7, 15)}));
    EXPECT_EQ(device_->Settings().GlobalGain, 1023);

    ASSERT_TRUE(device_->setGain(100));
    EXPECT_EQ(TakeEvents(), (Events{S(6, 36), S(7, 1)}));
    EXPECT_EQ(device_->Settings().GlobalGain, 100);

    ASSERT_TRUE(device_->setGain(-5));
    EXPECT_EQ(device_->Settings().GlobalGain, 1023);
}

TEST_F(TernDeviceTest, ExternalTriggerAdaptsTheReadOutRegistersFromTheirShadow) {
    ASSERT_TRUE(device_->writeSensorRegister(32, 0x3A));
    ASSERT_TRUE(device_->writeSensorRegister(33, 0x35));
    TakeEvents();

    ASSERT_TRUE(device_->setExternalTrigger(7));
    EXPECT_EQ(TakeEvents(), (Events{B(11, 1), S(32, 0x2A), S(33, 0x0C)}));
    EXPECT_EQ(device_->Settings().ExTrigger, 1);
    EXPECT_EQ(device_->Settings().RegisterShadow[33], 0x4C);
    EXPECT_TRUE(rig_->camera.Status().triggerMode);

    ASSERT_TRUE(device_->setExternalTrigger(0));
    EXPECT_EQ(TakeEvents(), (Events{B(11, 0), S(32, 0x3A), S(33, 0x01)}));
    EXPECT_EQ(device_->Settings().ExTrigger, 0);
    EXPECT_EQ(device_->Settings().RegisterShadow[33], 0x41);
}

TEST_F(TernDeviceTest, TriggerRefusedByTheBoardChangesNothing) {
    rig_->bus.StallEndpoint(camera_rig::kCommandEndpoint);
    EXPECT_FALSE(device_->setExternalTrigger(1));
    EXPECT_EQ(device_->Settings().ExTrigger, 0);
    EXPECT_EQ(device_->Transport().ResetPipe(0), STATUS_SUCCESS);
    EXPECT_TRUE(TakeEvents().empty());
}

TEST_F(TernDeviceTest, ClockIndexThreeReadsAsTwo) {
    LONG clock = -1;
    rig_->camera.SetClockIndex(3);
    ASSERT_TRUE(device_->readClock(&clock));
    EXPECT_EQ(clock, 2);
    EXPECT_EQ(device_->Settings().Clock, 2);

    rig_->camera.SetClockIndex(1);
    ASSERT_TRUE(device_->readClock(&clock));
    EXPECT_EQ(clock, 1);
    EXPECT_EQ(TakeEvents(), (Events{R(15), R(15)}));

    rig_->bus.Unplug();
    clock = -1;
    EXPECT_FALSE(device_->readClock(&clock));
    EXPECT_EQ(clock, -1);
    EXPECT_EQ(device_->Settings().Clock, 1);
}

TEST_F(TernDeviceTest, RawCommandsMemoryAndBoardRegisters) {
    UCHAR data[100];
    for (int i = 0; i < 100; ++i) {
        data[i] = static_cast<UCHAR>(i + 1);
    }
    ASSERT_TRUE(device_->sendRawCommand(100, data));
    ASSERT_TRUE(device_->sendRawCommand(0, data));
    auto log = rig_->camera.CommandLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].bytes[0], 0x40);
    EXPECT_TRUE(std::equal(data, data + 63, log[0].bytes.begin() + 1));
    EXPECT_EQ(log[1].bytes, (std::array<uint8_t, 64>{0x40}));

    rig_->camera.WriteMemory(0x1234, {0xAB});
    rig_->camera.ClearCommandLog();
    UCHAR byte = 0;
    ASSERT_TRUE(device_->readMemoryByte(0x1234, &byte));
    EXPECT_EQ(byte, 0xAB);
    log = rig_->camera.CommandLog();
    ASSERT_EQ(log.size(), 1u);
    const std::array<uint8_t, 6> memoryRead = {0x41, 0x51, 0x02, 0x01, 0x12, 0x34};
    EXPECT_TRUE(std::equal(memoryRead.begin(), memoryRead.end(), log[0].bytes.begin()));

    ASSERT_TRUE(device_->writeBoardRegister(14, 4));
    EXPECT_EQ(rig_->camera.BoardRegister(14), 4);
    ASSERT_TRUE(device_->readBoardRegister(14, &byte));
    EXPECT_EQ(byte, 4);

    // A read that gets no answer leaves the caller's byte alone.
    rig_->bus.StallEndpoint(camera_rig::kResponseEndpoint);
    byte = 0x5A;
    EXPECT_FALSE(device_->readMemoryByte(0x1234, &byte));
    EXPECT_EQ(byte, 0x5A);
}

class TernInitialisationTest : public TernDeviceTest, public ::testing::WithParamInterface<int> {};

TEST_P(TernInitialisationTest, WritesTheWholeSequenceForTheCamerasClock) {
    const int board = GetParam();
    rig_->camera.SetClockIndex(static_cast<uint8_t>(board));
    EXPECT_TRUE(device_->Initializing());
    device_->InitSensor();
    EXPECT_EQ(TakeEvents(), ExpectedInitialisation(board == 3 ? 2 : board));
    EXPECT_FALSE(device_->Initializing());
    EXPECT_EQ(device_->Settings().Clock, board == 3 ? 2 : board);
}

INSTANTIATE_TEST_SUITE_P(ClockIndices, TernInitialisationTest, ::testing::Values(0, 1, 2, 3, 5));

TEST_F(TernDeviceTest, CameraStartProgramsTheCameraAndReadsFullFrames) {
    zyn::CameraSettings& settings = device_->Settings();
    settings.Exposure = 64;
    settings.GlobalGain = 512;
    zyn::ColorState* colorState = new (NonPagedPool) zyn::ColorState();
    ASSERT_NE(colorState, nullptr);
    colorState->SetBayerPhase(0);
    device_->SetBayerPhase(0);

    ASSERT_EQ(device_->StartCapture(colorState, 1360, 1024), STATUS_SUCCESS);
    Events expected = ExpectedInitialisation(0);
    Append(expected, {B(0, 0), B(1, 64), B(2, 21), B(3, 0), {Event::Start, 1, 0}, B(14, 0)});
    Append(expected, {B(11, 0), S(32, 11 | 0x10), S(33, 1)}); // trigger off, from the shadow
    Append(expected, NormalExposure(64));
    Append(expected, {S(6, 0), S(7, 8)});
    EXPECT_EQ(TakeEvents(), expected);

    EXPECT_EQ(device_->GetRawFrameOffset(), 0u);
    EXPECT_EQ(device_->GetRawFramePitch(), 1360u);
    EXPECT_EQ(device_->GetRawFrameSize(), 1392640u);
    EXPECT_EQ(device_->BayerPhase(), 2);
    EXPECT_EQ(colorState->GetBayerPhase(), 2);
    EXPECT_TRUE(rig_->camera.Status().started);
    EXPECT_TRUE(rig_->camera.Status().sensorStreaming);
    delete colorState;

    camera_rig::PoolBuffer frame(1392640);
    ASSERT_TRUE(device_->ReadRawFrame(frame.data()));
    EXPECT_TRUE(frame.Bytes() == rig_->camera.ExpectedFrame());
    const auto codes = TakeEvents();
    ASSERT_EQ(codes.size(), 3u);
    EXPECT_EQ(codes[0], (Event{Event::Other, 0x02, 0}));
    EXPECT_EQ(codes[1], (Event{Event::Other, 0x02, 0}));
    EXPECT_EQ(codes[2], (Event{Event::Other, 0x03, 0}));
}

TEST_F(TernDeviceTest, CameraStartPutsTheSensorBackInLongModeForALongExposure) {
    ASSERT_TRUE(device_->setExposure(1070));
    ASSERT_EQ(device_->StartCapture(nullptr, 1360, 1024), STATUS_SUCCESS);
    Events events = TakeEvents();
    // The initialisation left normal mode; the stored exposure needs long mode again.
    Events tail(events.end() - 11, events.end());
    Events expected = kLongMode;
    Append(expected, {S(155, 3), S(6, 0), S(7, 0)});
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(device_->Settings().Exposure, 1070);
}

TEST_F(TernDeviceTest, CameraStartOnAnUnpluggedCameraFails) {
    rig_->bus.Unplug();
    EXPECT_EQ(device_->StartCapture(nullptr, 1360, 1024), STATUS_UNSUCCESSFUL);
    EXPECT_FALSE(device_->Initializing());
    camera_rig::PoolBuffer frame(1392640);
    EXPECT_FALSE(device_->ReadRawFrame(frame.data()));
}

TEST_F(TernDeviceTest, FrameReadWaitsTheDriverWideTimeout) {
    camera_rig::PoolBuffer frame(1392640);
    EXPECT_FALSE(device_->ReadRawFrame(frame.data())) << "no frame size before the camera start";
    EXPECT_TRUE(rig_->camera.CommandLog().empty());

    ASSERT_EQ(device_->StartCapture(nullptr, 1360, 1024), STATUS_SUCCESS);
    ASSERT_TRUE(device_->setExternalTrigger(1));
    rig_->Globals().SetTimeout(50);
    EXPECT_FALSE(device_->ReadRawFrame(frame.data())) << "no trigger, no frame";
    EXPECT_EQ(rig_->bus.Counters().cancelled, 22u);
}

} // namespace
