// The camera's command protocol: 64-byte packets on the command endpoint, code in byte 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim::camera {

constexpr size_t kPacketSize = 64;

enum CommandCode : uint8_t {
    CMD_FRAME_REQUEST = 0x02,
    CMD_READS_QUEUED = 0x03,
    CMD_SENSOR_WRITE = 0x04,
    CMD_INIT_BEGIN = 0x06,
    CMD_START_CONTROL = 0x0A,
    CMD_SENSOR_READ = 0x0C,
    CMD_SENSOR_CONTROL = 0x0E,
    CMD_BOARD_WRITE = 0x25,
    CMD_BOARD_READ = 0x26,
    CMD_RAW = 0x40,
    CMD_MEMORY_READ = 0x41,
};

// Board registers with a meaning to the firmware.
namespace board {
constexpr uint8_t kFrameBytes0 = 0; // frame byte count, registers 0 to 3, low byte first
constexpr uint8_t kSensorReset = 6; // bit 0 holds the sensor in reset where it has the line
constexpr uint8_t kTrigger = 11;
constexpr uint8_t kClockIndex = 15;
constexpr uint8_t kVersionHigh = 29; // 24-bit firmware version in 29, 30, 31, where kept
constexpr uint8_t kVersionLow = 31;
} // namespace board

// CMD_MEMORY_READ: bytes 1 and 2 select the board's memory space, byte 3 is the byte count.
constexpr uint8_t kMemorySpace0 = 0x51;
constexpr uint8_t kMemorySpace1 = 0x02;

} // namespace sim::camera
