#include "driver/protocol/command_channel.h"

#include "driver/protocol/usb_transport.h"

namespace zyn {

CommandChannel::CommandChannel(UsbTransport& transport) : transport_(transport) {
    KeInitializeMutex(&lock_, 0);
}

NTSTATUS CommandChannel::TransferLocked(ULONG pipe) {
    ULONG transferred = 0;
    NTSTATUS status = transport_.PipeTransfer(pipe, kCommandPacketSize, &packet_, &transferred);
    if (NT_SUCCESS(status) && transferred != kCommandPacketSize) {
        status = STATUS_DEVICE_DATA_ERROR;
    }
    if (!NT_SUCCESS(status)) {
        ++failedTransfers_;
    }
    return status;
}

BOOLEAN CommandChannel::Send(const CommandPacket& packet) {
    MutexGuard hold(&lock_);
    packet_ = packet;
    return NT_SUCCESS(TransferLocked(kCommandPipe));
}

BOOLEAN CommandChannel::Query(const CommandPacket& packet, PUCHAR result, ULONG settleMs) {
    return NT_SUCCESS(QueryStatus(packet, result, settleMs));
}

NTSTATUS CommandChannel::QueryStatus(const CommandPacket& packet, PUCHAR result, ULONG settleMs) {
    MutexGuard hold(&lock_);
    packet_ = packet;
    NTSTATUS status = TransferLocked(kCommandPipe);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    DelayMilliseconds(settleMs);
    // The first answer echoes the command; the second carries the result. Each read has the
    // transport's bound, so a camera that never answers holds the lock for a bounded time.
    status = TransferLocked(kResponsePipe);
    if (NT_SUCCESS(status)) {
        status = TransferLocked(kResponsePipe);
    }
    if (!NT_SUCCESS(status)) {
        return status;
    }
    DelayMilliseconds(settleMs);
    *result = packet_.Bytes[0];
    return STATUS_SUCCESS;
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
