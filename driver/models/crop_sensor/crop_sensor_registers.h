// Registers of the sensor family behind the Heron and Egret cameras: 16-bit addresses, 8-bit
// data. Multi-byte values are split over consecutive registers, low byte first.
#pragma once

#include "driver/wdk.h"

namespace zyn::crop {

constexpr ULONG kLastAddress = 0xFFFF;

namespace reg {
constexpr USHORT kStandby = 0x200;
// While bit 0 is set the read-out registers (mode, direction, crop) are collected and take
// effect together when it is cleared.
constexpr USHORT kHold = 0x208;
constexpr USHORT kTriggerInput = 0x20B; // 1: frames start on the trigger input
constexpr USHORT kReadoutMode = 0x20D;
// Read-out direction: bit 1 left to right, bit 0 top to bottom (as the scene is seen).
constexpr USHORT kDirection = 0x20E;
constexpr USHORT kFrameLength = 0x210; // 0x210 to 0x212, 20 bits, in lines
constexpr USHORT kLineLength = 0x214;  // 0x214, 0x215, 13 bits, in pixel clocks
constexpr USHORT kShutter = 0x28D;     // 0x28D to 0x28F, 20 bits: lines before the read-out
constexpr USHORT kGain = 0x404;        // 0x404 low byte, 0x405 the high bits
constexpr USHORT kCropEnable = 0x500;  // bit 0 columns, bit 1 rows
constexpr USHORT kCropStartX = 0x510;  // 0x510 to 0x517: start x, start y, width, height
constexpr USHORT kCropStartY = 0x512;
constexpr USHORT kCropWidth = 0x514;
constexpr USHORT kCropHeight = 0x516;
} // namespace reg

constexpr UCHAR kModeWindow = 0;
constexpr UCHAR kModeBinned2x = 17;
constexpr UCHAR kCropBoth = 3;

// CMD_SENSOR_CONTROL selectors.
constexpr UCHAR kControlPower = 0x20;
constexpr UCHAR kControlStream = 0x60; // 0 holds the sensor in standby while it is reprogrammed

// Board register 14 at the camera start.
constexpr UCHAR kBoardStartMode = 4;

// A sensor register read needs this long before and after its answers.
constexpr ULONG kSensorReadSettleMs = 6;

} // namespace zyn::crop
