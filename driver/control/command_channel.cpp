#include "driver/control/command_channel.h"

#include "driver/core/usb_transport.h"

namespace zyn {

CommandChannel::CommandChannel(UsbTransport& transport) : transport_(transport) {
    KeInitializeMutex(&lock_, 0);
}

BOOLEAN CommandChannel::TransferLocked(ULONG pipe) {
    ULONG transferred = 0;
    const NTSTATUS status = transport_.PipeTransfer(pipe, kCommandPacketSize, &packet_, &transferred);
    if (NT_SUCCESS(status) && transferred == kCommandPacketSize) {
        return TRUE;
    }
    ++failedTransfers_;
    return FALSE;
}

BOOLEAN CommandChannel::Send(const CommandPacket& packet) {
    MutexGuard hold(&lock_);
    packet_ = packet;
    return TransferLocked(kCommandPipe);
}

BOOLEAN CommandChannel::Query(const CommandPacket& packet, PUCHAR result, ULONG settleMs) {
    MutexGuard hold(&lock_);
    packet_ = packet;
    if (!TransferLocked(kCommandPipe)) {
        return FALSE;
    }
    DelayMilliseconds(settleMs);
    // The first answer echoes the command; the second carries the result.
    if (!TransferLocked(kResponsePipe) || !TransferLocked(kResponsePipe)) {
        return FALSE;
    }
    DelayMilliseconds(settleMs);
    *result = packet_.Bytes[0];
    return TRUE;
}

VOID DelayMilliseconds(ULONG milliseconds) {
    if (milliseconds == 0) {
        return;
    }
    LARGE_INTEGER interval;
    interval.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

} // namespace zyn
