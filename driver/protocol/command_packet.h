// The 64-byte command packets of the camera protocol. Each builder starts from a zeroed packet
// and fills only the bytes its command defines.
#pragma once

#include "driver/protocol/command_codes.h"
#include "driver/wdk.h"

namespace zyn {

constexpr ULONG kCommandPacketSize = 64;
// CMD_RAW carries at most this many caller bytes after its code.
constexpr LONG kRawCommandPayload = kCommandPacketSize - 1;

struct CommandPacket {
    UCHAR Bytes[kCommandPacketSize];

    constexpr CommandPacket() : Bytes{} {}
    constexpr explicit CommandPacket(CommandCode code) : Bytes{} { Bytes[0] = code; }
    constexpr UCHAR Code() const { return Bytes[0]; }
};
static_assert(sizeof(CommandPacket) == kCommandPacketSize, "a command packet is 64 bytes");

namespace packets {

constexpr CommandPacket FrameRequest() {
    return CommandPacket(CMD_FRAME_REQUEST);
}
constexpr CommandPacket ReadsQueued() {
    return CommandPacket(CMD_READS_QUEUED);
}
constexpr CommandPacket InitBegin() {
    return CommandPacket(CMD_INIT_BEGIN);
}

constexpr CommandPacket StartControl() {
    CommandPacket p(CMD_START_CONTROL);
    p.Bytes[1] = 1;
    return p;
}

// A sensor behind a serial shift register: `bits` bits of `word` are shifted out, the word
// least significant byte first.
constexpr CommandPacket SensorWriteSerial(UCHAR bits, ULONG word) {
    CommandPacket p(CMD_SENSOR_WRITE);
    p.Bytes[1] = bits;
    p.Bytes[2] = static_cast<UCHAR>(word);
    p.Bytes[3] = static_cast<UCHAR>(word >> 8);
    p.Bytes[4] = static_cast<UCHAR>(word >> 16);
    p.Bytes[5] = static_cast<UCHAR>(word >> 24);
    return p;
}

// A sensor with 16-bit register addresses and 8-bit data, address high byte first.
constexpr CommandPacket SensorWrite16(USHORT address, UCHAR value) {
    CommandPacket p(CMD_SENSOR_WRITE);
    p.Bytes[1] = static_cast<UCHAR>(address >> 8);
    p.Bytes[2] = static_cast<UCHAR>(address);
    p.Bytes[3] = value;
    return p;
}

// A sensor with 8-bit register addresses and 8-bit data; byte 1 selects that bus mode.
constexpr CommandPacket SensorWrite8(UCHAR address, UCHAR value) {
    CommandPacket p(CMD_SENSOR_WRITE);
    p.Bytes[1] = 2;
    p.Bytes[2] = address;
    p.Bytes[3] = value;
    return p;
}

constexpr CommandPacket SensorRead16(USHORT address) {
    CommandPacket p(CMD_SENSOR_READ);
    p.Bytes[1] = static_cast<UCHAR>(address >> 8);
    p.Bytes[2] = static_cast<UCHAR>(address);
    return p;
}

constexpr CommandPacket SensorControl(UCHAR selector, UCHAR value) {
    CommandPacket p(CMD_SENSOR_CONTROL);
    p.Bytes[1] = selector;
    p.Bytes[2] = value;
    return p;
}

constexpr CommandPacket BoardWrite(UCHAR reg, UCHAR value) {
    CommandPacket p(CMD_BOARD_WRITE);
    p.Bytes[1] = reg;
    p.Bytes[2] = value;
    return p;
}

constexpr CommandPacket BoardRead(UCHAR reg) {
    CommandPacket p(CMD_BOARD_READ);
    p.Bytes[1] = reg;
    return p;
}

// The caller's bytes after the code: the smaller of `length` and 63 of them; none when length
// is 0 or less (or no bytes are given).
CommandPacket Raw(LONG length, const UCHAR* bytes);

// One byte of the board's memory: space selector 0x51 0x02, byte count 1, address high byte
// first.
constexpr CommandPacket MemoryRead(USHORT address) {
    CommandPacket p(CMD_MEMORY_READ);
    p.Bytes[1] = 0x51;
    p.Bytes[2] = 0x02;
    p.Bytes[3] = 1;
    p.Bytes[4] = static_cast<UCHAR>(address >> 8);
    p.Bytes[5] = static_cast<UCHAR>(address);
    return p;
}

} // namespace packets
} // namespace zyn
