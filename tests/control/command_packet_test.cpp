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
    const struct {
        const char* name;
        CommandPacket packet;
        std::initializer_list<int> leading;
    } kPackets[] = {
        {"frame request", packets::FrameRequest(), {0x02}},
        {"reads queued", packets::ReadsQueued(), {0x03}},
        {"init begin", packets::InitBegin(), {0x06}},
        {"start control", packets::StartControl(), {0x0A, 1}},
        {"board write", packets::BoardWrite(11, 1), {0x25, 11, 1}},
        {"board read", packets::BoardRead(15), {0x26, 15}},
        {"memory read", packets::MemoryRead(0x1234), {0x41, 0x51, 0x02, 0x01, 0x12, 0x34}},
        {"sensor control", packets::SensorControl(0x60, 1), {0x0E, 0x60, 1}},
        {"sensor read", packets::SensorRead16(0x0405), {0x0C, 0x04, 0x05}},
        // Serial word: bit count, then the word least significant byte first.
        {"serial word",
         packets::SensorWriteSerial(26, 0x008D152C),
         {0x04, 26, 0x2C, 0x15, 0x8D, 0}},
        {"serial word, 32 bits",
         packets::SensorWriteSerial(32, 0xFFFFFFFF),
         {0x04, 32, 0xFF, 0xFF, 0xFF, 0xFF}},
        // 16-bit addresses, high byte first.
        {"16-bit address", packets::SensorWrite16(0x129E, 0x7F), {0x04, 0x12, 0x9E, 0x7F}},
        // 8-bit addresses behind the bus-mode byte.
        {"8-bit address", packets::SensorWrite8(0x7C, 0x33), {0x04, 2, 0x7C, 0x33}},
    };
    for (const auto& p : kPackets) {
        SCOPED_TRACE(p.name);
        ExpectPacket(p.packet, p.leading);
    }
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

constexpr zyn::SettingsLimits kLimits = {1360, 1024, 8,   1074, 64,    1023, 512,
                                         1,    512,  512, 0,    FALSE, TRUE, FALSE};

TEST(CameraSettings, CreationValuesOverwriteWhateverWasThere) {
    zyn::CameraSettings settings;
    std::memset(static_cast<void*>(&settings), 0xA5, sizeof settings);
    settings.SetCreationValues(kLimits);

    // The region is the full sensor, reported as such.
    const struct {
        const char* name;
        LONG value;
        LONG expected;
    } kFields[] = {
        {"ExTrigger", settings.ExTrigger, 0},
        {"Timeout", settings.Timeout, 3000},
        {"Exposure", settings.Exposure, 0},
        {"GlobalGain", settings.GlobalGain, 0},
        {"FlipH", settings.FlipH, 0},
        {"FlipV", settings.FlipV, 0},
        {"ColorEnable", settings.ColorEnable, 1},
        {"WhiteBalance", settings.WhiteBalance, 0},
        {"RedGain", settings.RedGain, 128},
        {"GreenGain", settings.GreenGain, 128},
        {"BlueGain", settings.BlueGain, 128},
        {"ColorCorrection", settings.ColorCorrection, 1},
        {"Brightness", settings.Brightness, 255},
        {"Contrast", settings.Contrast, 10},
        {"Saturation", settings.Saturation, 10},
        {"Hue", settings.Hue, 0},
        {"SubSample", settings.SubSample, 0},
        {"Clock", settings.Clock, 0},
        {"AGC", settings.AGC, 0},
        {"AEC", settings.AEC, 0},
        {"PinOpen", settings.PinOpen, 0},
        {"SelectedAddress", settings.SelectedAddress, 0},
        {"Dot", settings.Dot, 0},
        {"DotThreshold", settings.DotThreshold, 30},
        {"RoiX", settings.RoiX, 0},
        {"RoiY", settings.RoiY, 0},
        {"RoiW", settings.RoiW, 1360},
        {"RoiH", settings.RoiH, 1024},
        {"OutputWidth", settings.OutputWidth, 1360},
        {"OutputHeight", settings.OutputHeight, 1024},
        {"ReportX", settings.ReportX, 0},
        {"ReportY", settings.ReportY, 0},
        {"ReportW", settings.ReportW, 1360},
        {"ReportH", settings.ReportH, 1024},
    };
    for (const auto& field : kFields) {
        EXPECT_EQ(field.value, field.expected) << field.name;
    }
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
