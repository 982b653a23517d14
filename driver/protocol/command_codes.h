// The camera's command codes: byte 0 of every 64-byte packet on the command pipe.
#pragma once

#include "driver/wdk.h"

namespace zyn {

enum CommandCode : UCHAR {
    CMD_FRAME_REQUEST = 0x02,  // arms the board for one frame
    CMD_READS_QUEUED = 0x03,   // the frame's bulk requests are waiting on the data pipe
    CMD_SENSOR_WRITE = 0x04,   // one sensor register, in the model's encoding
    CMD_INIT_BEGIN = 0x06,     // before the sensor initialisation (not Tern)
    CMD_START_CONTROL = 0x0A,  // starts the board's frame control
    CMD_SENSOR_READ = 0x0C,    // one sensor register, answered (16-bit addressing models)
    CMD_SENSOR_CONTROL = 0x0E, // the board's control lines to the sensor
    CMD_BOARD_WRITE = 0x25,
    CMD_BOARD_READ = 0x26,  // answered
    CMD_RAW = 0x40,         // caller's bytes, passed through
    CMD_MEMORY_READ = 0x41, // one byte of board memory, answered
};

// Pipes by their index in the camera's interface.
constexpr ULONG kCommandPipe = 0;
constexpr ULONG kResponsePipe = 1;
constexpr ULONG kDataPipe = 2;

// Board registers every model uses the same way.
namespace board {
constexpr UCHAR kFrameBytes0 = 0; // frame byte count in registers 0 to 3, low byte first
constexpr UCHAR kTrigger = 11;
constexpr UCHAR kStartMode = 14;
constexpr UCHAR kClockIndex = 15;
} // namespace board

} // namespace zyn
