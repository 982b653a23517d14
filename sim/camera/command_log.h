// The record of every command packet the camera received, and its text form: one line per
// packet, 64 two-digit hex bytes separated by single spaces.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "sim/camera/command_codes.h"

namespace sim::camera {

struct CommandRecord {
    std::chrono::nanoseconds time{0};         // camera time at arrival
    std::array<uint8_t, kPacketSize> bytes{}; // as received; zero past `length`
    uint8_t length = 0;                       // bytes the packet carried, 1 to 64

    uint8_t code() const { return bytes[0]; }
};

std::string FormatPacket(const CommandRecord& record);

// Writes FormatPacket of each record, each followed by a newline.
void WriteCommandLog(std::ostream& out, const std::vector<CommandRecord>& log);

} // namespace sim::camera
