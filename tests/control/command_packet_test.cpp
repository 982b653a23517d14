#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "driver/core/camera_settings.h"
#include "driver/protocol/command_packet.h"

namespace {

using zyn::CommandPacket;
namespace packets = zyn::packets;

// The packet's leading bytes as given, and zero everywhere after them.
void ExpectPacket(const CommandPacket& packet, std::initializer_list<int> leading) {
    std::vector<UCHAR> expected(64, 0);
    size_t i = 0;
    for (int byte : leading) {
        expected[i++] = static_cast<UCHAR>(byte);
    }
    EXPECT_EQ(std::vector<UCHAR>(packet.Bytes, packet.Bytes + 64), expected);
}

TEST(CommandPacket, EachCommandFillsOnlyItsOwnBytes) {
    ExpectPacket(packets::FrameRequest(), {0x02});
    ExpectPacket(packets::ReadsQueued(), {0x03});
    ExpectPacket(packets::InitBegin(), {0x06});
    ExpectPacket(packets::StartControl(), {0x0A, 1});
    ExpectPacket(packets::BoardWrite(11, 1), {0x25, 11, 1});
    ExpectPacket(packets::BoardRead(15), {0x26, 15});
    ExpectPacket(packets::MemoryRead(0x1234), {0x41, 0x51, 0x02, 0x01, 0x12, 0x34});
    ExpectPacket(packets::SensorControl(0x60, 1), {0x0E, 0x60, 1});
    ExpectPacket(packets::SensorRead16(0x0405), {0x0C, 0x04, 0x05});
}

TEST(CommandPacket, SensorWritesInEachAddressingScheme) {
    // Serial word: bit count, then the word least significant byte first.
    ExpectPacket(packets::SensorWriteSerial(26, 0x008D152C), {0x04, 26, 0x2C, 0x15, 0x8D, 0x00});
    ExpectPacket(packets::SensorWriteSerial(32, 0xFFFFFFFF), {0x04, 32, 0xFF, 0xFF, 0xFF, 0xFF});
    // 16-bit addresses, high byte first.
    ExpectPacket(packets::SensorWrite16(0x129E, 0x7F), {0x04, 0x12, 0x9E, 0x7F});
    // 8-bit addresses behind the bus-mode byte.
    ExpectPacket(packets::SensorWrite8(0x7C, 0x33), {0x04, 2, 0x7C, 0x33});
}

TEST(CommandPacket, RawCommandCarriesAtMost63CallerBytes) {
    UCHAR data[100];
    for (int i = 0; i < 100; ++i) {
        data[i] = static_cast<UCHAR>(0x80 + i);
    }
    const CommandPacket full = packets::Raw(100, data);
    EXPECT_EQ(full.Bytes[0], 0x40);
    EXPECT_EQ(std::memcmp(&full.Bytes[1], data, 63), 0);

    const CommandPacket three = packets::Raw(3, data);
    ExpectPacket(three, {0x40, 0x80, 0x81, 0x82});
    const CommandPacket exact = packets::Raw(63, data);
    EXPECT_EQ(std::memcmp(&exact.Bytes[1], data, 63), 0);

    ExpectPacket(packets::Raw(0, data), {0x40});
    ExpectPacket(packets::Raw(-5, data), {0x40});
    ExpectPacket(packets::Raw(10, nullptr), {0x40});
}

constexpr zyn::SettingsLimits kLimits = {1360, 1024, 8, 1074, 64, 1023, 512,
                                         1,    512,  512, 0, FALSE, TRUE, FALSE};

TEST(CameraSettings, CreationValuesOverwriteWhateverWasThere) {
    zyn::CameraSettings settings;
    std::memset(static_cast<void*>(&settings), 0xA5, sizeof settings);
    settings.SetCreationValues(kLimits);

    EXPECT_EQ(settings.ExTrigger, 0);
    EXPECT_EQ(settings.Timeout, 3000);
    EXPECT_EQ(settings.Exposure, 0);
    EXPECT_EQ(settings.GlobalGain, 0);
    EXPECT_EQ(settings.FlipH, 0);
    EXPECT_EQ(settings.FlipV, 0);
    EXPECT_EQ(settings.ColorEnable, 1);
    EXPECT_EQ(settings.WhiteBalance, 0);
    EXPECT_EQ(settings.RedGain, 128);
    EXPECT_EQ(settings.GreenGain, 128);
    EXPECT_EQ(settings.BlueGain, 128);
    EXPECT_EQ(settings.ColorCorrection, 1);
    EXPECT_EQ(settings.Brightness, 255);
    EXPECT_EQ(settings.Contrast, 10);
    EXPECT_EQ(settings.Saturation, 10);
    EXPECT_EQ(settings.Hue, 0);
    EXPECT_EQ(settings.SubSample, 0);
    EXPECT_EQ(settings.Clock, 0);
    EXPECT_EQ(settings.AGC, 0);
    EXPECT_EQ(settings.AEC, 0);
    EXPECT_EQ(settings.PinOpen, 0);
    EXPECT_EQ(settings.SelectedAddress, 0);
    EXPECT_EQ(settings.Dot, 0);
    EXPECT_EQ(settings.DotThreshold, 30);

    // The full sensor, reported as such.
    EXPECT_EQ(settings.RoiX, 0);
    EXPECT_EQ(settings.RoiY, 0);
    EXPECT_EQ(settings.RoiW, 1360);
    EXPECT_EQ(settings.RoiH, 1024);
    EXPECT_EQ(settings.OutputWidth, 1360);
    EXPECT_EQ(settings.OutputHeight, 1024);
    EXPECT_EQ(settings.ReportX, 0);
    EXPECT_EQ(settings.ReportY, 0);
    EXPECT_EQ(settings.ReportW, 1360);
    EXPECT_EQ(settings.ReportH, 1024);
    for (LONG value : settings.RegisterShadow) {
        ASSERT_EQ(value, 0);
    }
}

TEST(CameraSettings, OutputWidthIsTheSensorWidthRoundedDownToEight) {
    zyn::SettingsLimits limits = kLimits;
    limits.sensorWidth = 1333;
    zyn::CameraSettings settings;
    settings.SetCreationValues(limits);
    EXPECT_EQ(settings.RoiW, 1333);
    EXPECT_EQ(settings.OutputWidth, 1328);
}

} // namespace
