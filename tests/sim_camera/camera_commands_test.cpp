// Command execution of the camera emulator: descriptors, register writes in each model's
// encoding, answers, memory, the command log.
#include <gtest/gtest.h>

#include <sstream>

#include "camera_wire.h"
#include "sim/camera/usb_descriptors.h"

namespace camera_test {
namespace {

using namespace sim::camera;

class EveryModel : public ::testing::TestWithParam<Model> {};

INSTANTIATE_TEST_SUITE_P(Camera, EveryModel, AllModels(), ModelName);

TEST_P(EveryModel, DescriptorsShowOneInterfaceWithThreeBulkPipesInOrder) {
    Camera camera(GetParam(), Unpaced());
    const std::vector<uint8_t> device = camera.DeviceDescriptor();
    ASSERT_EQ(device.size(), 18u);
    EXPECT_EQ(device[0], 18);
    EXPECT_EQ(device[1], 1);
    EXPECT_EQ(device[8] | device[9] << 8, Info(GetParam()).vendorId);
    EXPECT_EQ(device[10] | device[11] << 8, Info(GetParam()).productId);
    EXPECT_EQ(device[17], 1);

    const std::vector<uint8_t> config = camera.ConfigurationDescriptor(0);
    ASSERT_GE(config.size(), 9u);
    ASSERT_EQ(config[2] | config[3] << 8, static_cast<int>(config.size()));
    EXPECT_EQ(config[4], 1); // one interface
    std::vector<std::pair<uint8_t, int>> endpoints;
    for (size_t at = 0; at < config.size(); at += config[at]) {
        ASSERT_GT(config[at], 0);
        if (config[at + 1] == 4) {
            EXPECT_EQ(config[at + 3], 0); // alternate setting 0
            EXPECT_EQ(config[at + 4], 3);
        } else if (config[at + 1] == 5) {
            EXPECT_EQ(config[at + 3], 2); // bulk
            endpoints.emplace_back(config[at + 2], config[at + 4] | config[at + 5] << 8);
        }
    }
    const std::vector<std::pair<uint8_t, int>> expected = {{0x01, 512}, {0x81, 512}, {0x82, 512}};
    EXPECT_EQ(endpoints, expected);
    EXPECT_TRUE(camera.ConfigurationDescriptor(1).empty());
}

TEST(CameraIdentity, EachModelHasItsOwnProductId) {
    EXPECT_NE(Info(Model::Tern).productId, Info(Model::Heron).productId);
    EXPECT_NE(Info(Model::Heron).productId, Info(Model::Plover).productId);
    EXPECT_NE(Info(Model::Plover).productId, Info(Model::Egret).productId);
    Model model;
    EXPECT_TRUE(ParseModel("egret", model));
    EXPECT_EQ(model, Model::Egret);
    EXPECT_FALSE(ParseModel("Egret", model));
}

TEST_P(EveryModel, BoardReadAnswersTwoPacketsWithTheValueInTheSecond) {
    Camera camera(GetParam(), Unpaced());
    WriteBoard(camera, 40, 0x5A);
    WriteBoard(camera, 41, 0xC3);
    Send(camera, {CMD_BOARD_READ, 40});
    Send(camera, {CMD_BOARD_READ, 41});
    EXPECT_EQ(camera.Status().answersQueued, 4u);
    Packet first, second;
    // Answers queue in order; the first packet of each is the command echoed.
    ASSERT_TRUE(ReadAnswer(camera, first));
    ASSERT_TRUE(ReadAnswer(camera, second));
    EXPECT_EQ(first[0], CMD_BOARD_READ);
    EXPECT_EQ(first[1], 40);
    EXPECT_EQ(second[0], 0x5A);
    ASSERT_TRUE(ReadAnswer(camera, first));
    ASSERT_TRUE(ReadAnswer(camera, second));
    EXPECT_EQ(second[0], 0xC3);
    EXPECT_FALSE(ReadAnswer(camera, first));
    EXPECT_EQ(Ask(camera, {CMD_BOARD_READ, 99}), 0); // an unwritten register
    // A response request finding nothing gets no bytes and stays pending on the bus.
    const auto empty = camera.In(kResponseEndpoint, first.data(), first.size());
    EXPECT_EQ(empty.bytes, 0u);
    EXPECT_FALSE(empty.shortPacket);
}

TEST_P(EveryModel, MemoryReadAnswersTheAddressedByte) {
    Camera camera(GetParam(), Unpaced());
    camera.WriteMemory(0x1234, {0x77});
    camera.WriteMemory(0x3412, {0x11});
    EXPECT_EQ(Ask(camera, {CMD_MEMORY_READ, 0x51, 0x02, 0x01, 0x12, 0x34}), 0x77);
    // Untouched memory answers its power-on contents, which differ between neighbours.
    EXPECT_EQ(Ask(camera, {CMD_MEMORY_READ, 0x51, 0x02, 0x01, 0xAB, 0xCD}), camera.MemoryByte(0xABCD));
    EXPECT_NE(camera.MemoryByte(0xABCD), camera.MemoryByte(0xABCE));
    EXPECT_NE(camera.MemoryByte(0x0012), camera.MemoryByte(0x1200));
    // Another memory space answers zeros rather than leaving the host waiting.
    EXPECT_EQ(Ask(camera, {CMD_MEMORY_READ, 0x52, 0x02, 0x01, 0x12, 0x34}), 0);
}

TEST_P(EveryModel, RawCommandsAndUnknownCodesAreLoggedWithoutEffect) {
    Camera camera(GetParam(), Unpaced());
    std::vector<uint8_t> raw(64, 0);
    raw[0] = CMD_RAW;
    for (size_t i = 1; i < raw.size(); ++i) {
        raw[i] = static_cast<uint8_t>(i);
    }
    EXPECT_TRUE(camera.Out(kCommandEndpoint, raw.data(), raw.size()));
    Send(camera, {0x7F, 1, 2, 3});
    const CameraStatus status = camera.Status();
    EXPECT_EQ(status.answersQueued, 0u);
    EXPECT_FALSE(status.started);
    const auto log = camera.CommandLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), log[0].bytes.begin()));
    EXPECT_EQ(log[1].code(), 0x7F);
}

TEST(TernSensor, WritesDecodeTheSerialWordPerBank) {
    Camera camera(Model::Tern, Unpaced());
    // Index 300, value 0x12345: 26 bits, the data cut to 16.
    Send(camera, {CMD_SENSOR_WRITE, 26, 0x2C, 0x15, 0x8D, 0x00});
    EXPECT_EQ(camera.SensorRegister(300), 0x2345u);
    // Index 10 (6-bit bank), index 600 (22-bit bank).
    const auto word = [](uint32_t index, uint32_t value) { return value << 10 | index; };
    const auto send = [&](uint8_t bits, uint32_t w) {
        Send(camera, {CMD_SENSOR_WRITE, bits, static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
                      static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 24)});
    };
    send(16, word(10, 0x3F));
    send(32, word(600, 0x3FE6FE));
    EXPECT_EQ(camera.SensorRegister(10), 0x3Fu);
    EXPECT_EQ(camera.SensorRegister(600), 0x3FE6FEu);
    // Too few bits shifted out lose the upper data bits; fewer than an index are no write.
    send(16, word(301, 0xFFFF));
    EXPECT_EQ(camera.SensorRegister(301), 0x3Fu);
    send(8, word(302, 1));
    EXPECT_EQ(camera.SensorRegister(302), 0u);

    const std::vector<SensorWrite> writes = camera.SensorWriteLog();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0].address, 300u);
    EXPECT_EQ(writes[0].value, 0x2345u);
    EXPECT_EQ(writes[0].bits, 26);
}

TEST(TernSensor, ResetLineClearsRegistersAndLosesWritesWhileHeld) {
    Camera camera(Model::Tern, Unpaced());
    camera.SetSensorRegister(35, 62);
    WriteBoard(camera, 6, 17);
    EXPECT_EQ(camera.SensorRegister(35), 0u);
    EXPECT_FALSE(camera.Status().sensorStreaming);
    Send(camera, {CMD_SENSOR_WRITE, 16, 0x23, 0xF8, 0, 0}); // index 35 := 62
    EXPECT_EQ(camera.SensorRegister(35), 0u);
    WriteBoard(camera, 6, 0);
    Send(camera, {CMD_SENSOR_WRITE, 16, 0x23, 0xF8, 0, 0});
    EXPECT_EQ(camera.SensorRegister(35), 62u);
    EXPECT_TRUE(camera.Status().sensorStreaming);
}

TEST(CropSensorCommands, SixteenBitAddressesWriteAndReadBack) {
    for (Model model : {Model::Heron, Model::Egret}) {
        Camera camera(model, Unpaced());
        Send(camera, {CMD_SENSOR_WRITE, 0x04, 0x04, 0xE0});
        Send(camera, {CMD_SENSOR_WRITE, 0x04, 0x05, 0x01});
        EXPECT_EQ(camera.SensorRegister(0x404), 0xE0u);
        EXPECT_EQ(Ask(camera, {CMD_SENSOR_READ, 0x04, 0x04}), 0xE0);
        EXPECT_EQ(Ask(camera, {CMD_SENSOR_READ, 0x04, 0x05}), 0x01);
        EXPECT_EQ(Ask(camera, {CMD_SENSOR_READ, 0x05, 0x04}), 0x00);
    }
}

TEST(CropSensorCommands, SensorReadAndControlAreNotUnderstoodByTernAndPlover) {
    for (Model model : {Model::Tern, Model::Plover}) {
        Camera camera(model, Unpaced());
        Send(camera, {CMD_SENSOR_READ, 0x00, 0x01});
        Send(camera, {CMD_SENSOR_CONTROL, 0x60, 1});
        EXPECT_EQ(camera.Status().answersQueued, 0u) << Info(model).name;
    }
}

TEST(PloverSensor, EightBitWritesNeedTheirMarker) {
    Camera camera(Model::Plover, Unpaced());
    Send(camera, {CMD_SENSOR_WRITE, 2, 0x1C, 0x04});
    EXPECT_EQ(camera.SensorRegister(0x1C), 0x04u);
    Send(camera, {CMD_SENSOR_WRITE, 3, 0x1C, 0x09});
    EXPECT_EQ(camera.SensorRegister(0x1C), 0x04u);
    EXPECT_EQ(camera.SensorWriteLog().size(), 1u);
}

TEST(BoardRegisters, VersionAndClockAreTheCameras) {
    Camera plover(Model::Plover, Unpaced());
    plover.SetFirmwareVersion(0x0C051D);
    WriteBoard(plover, 30, 0xFF); // read-only to the host
    EXPECT_EQ(Ask(plover, {CMD_BOARD_READ, 29}), 0x0C);
    EXPECT_EQ(Ask(plover, {CMD_BOARD_READ, 30}), 0x05);
    EXPECT_EQ(Ask(plover, {CMD_BOARD_READ, 31}), 0x1D);
    // Plover's clock is selectable by the host.
    WriteBoard(plover, 15, 4);
    EXPECT_EQ(Ask(plover, {CMD_BOARD_READ, 15}), 4);

    Camera tern(Model::Tern, Unpaced());
    tern.SetClockIndex(3);
    WriteBoard(tern, 15, 1); // fixed by the camera
    EXPECT_EQ(Ask(tern, {CMD_BOARD_READ, 15}), 3);
}

TEST(CommandLog, RecordsEveryPacketInOrderWithItsTime) {
    Camera camera(Model::Heron, Unpaced());
    Send(camera, {CMD_INIT_BEGIN});
    camera.AdvanceTime(std::chrono::milliseconds(5));
    Send(camera, {CMD_SENSOR_CONTROL, 0x20, 1});
    // A transfer of two packets is two commands; a short one reads zero-filled.
    uint8_t two[128] = {CMD_START_CONTROL, 1};
    two[64] = CMD_BOARD_WRITE;
    two[65] = 14;
    two[66] = 4;
    ASSERT_TRUE(camera.Out(kCommandEndpoint, two, sizeof(two)));
    const uint8_t shortPacket[3] = {CMD_BOARD_WRITE, 20, 7};
    ASSERT_TRUE(camera.Out(kCommandEndpoint, shortPacket, sizeof(shortPacket)));
    // Only the command endpoint takes commands.
    EXPECT_FALSE(camera.Out(0x02, two, 64));

    const auto log = camera.CommandLog();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].code(), CMD_INIT_BEGIN);
    EXPECT_EQ(log[0].time, std::chrono::nanoseconds(0));
    EXPECT_EQ(log[1].time, std::chrono::milliseconds(5));
    EXPECT_EQ(log[2].code(), CMD_START_CONTROL);
    EXPECT_EQ(log[3].code(), CMD_BOARD_WRITE);
    EXPECT_EQ(log[4].length, 3);
    EXPECT_EQ(camera.BoardRegister(14), 4);
    EXPECT_EQ(camera.BoardRegister(20), 7);
    EXPECT_TRUE(camera.Status().started);

    std::ostringstream text;
    WriteCommandLog(text, {log[2]});
    std::string expected = "0a 01";
    for (int i = 2; i < 64; ++i) {
        expected += " 00";
    }
    EXPECT_EQ(text.str(), expected + "\n");
    camera.ClearCommandLog();
    EXPECT_TRUE(camera.CommandLog().empty());
}

} // namespace
} // namespace camera_test
