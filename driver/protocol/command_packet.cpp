#include "driver/protocol/command_packet.h"

namespace zyn::packets {

CommandPacket Raw(LONG length, const UCHAR* bytes) {
    CommandPacket p(CMD_RAW);
    if (length <= 0 || bytes == nullptr) {
        return p;
    }
    const LONG count = length < kRawCommandPayload ? length : kRawCommandPayload;
    RtlCopyMemory(&p.Bytes[1], bytes, static_cast<SIZE_T>(count));
    return p;
}

} // namespace zyn::packets
