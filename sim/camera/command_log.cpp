#include "sim/camera/command_log.h"

namespace sim::camera {

std::string FormatPacket(const CommandRecord& record) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string line;
    line.reserve(kPacketSize * 3);
    for (size_t i = 0; i < kPacketSize; ++i) {
        if (i != 0) {
            line += ' ';
        }
        line += kDigits[record.bytes[i] >> 4];
        line += kDigits[record.bytes[i] & 0x0F];
    }
    return line;
}

void WriteCommandLog(std::ostream& out, const std::vector<CommandRecord>& log) {
    for (const CommandRecord& record : log) {
        out << FormatPacket(record) << '\n';
    }
}

} // namespace sim::camera
