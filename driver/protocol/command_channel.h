// The device's command channel: builds each register and control command in the device's
// command packet area and sends it on the command pipe; for commands that answer, reads the
// two answer packets from the response pipe into the same area and takes byte 0 of the second.
//
// One lock per device serialises a command with its answers, so that concurrent property
// requests and the camera start never mix their packets or take each other's answers. The lock
// is a kernel mutex, not a fast mutex: commands are synchronous USB requests, which must be
// sent at PASSIVE_LEVEL (a fast mutex raises to APC_LEVEL). It is recursive for its owner, so a
// MutexGuard can hold it across a whole sequence of commands. The frame read does not take
// it: it has packet areas of its own and waits up to a frame's timeout.
#pragma once

#include "driver/kernel/lock_guards.h"
#include "driver/protocol/command_packet.h"
#include "driver/wdk.h"

namespace zyn {

class UsbTransport;

class CommandChannel {
public:
    explicit CommandChannel(UsbTransport& transport);
    CommandChannel(const CommandChannel&) = delete;
    CommandChannel& operator=(const CommandChannel&) = delete;

    // True when all 64 bytes went out.
    BOOLEAN Send(const CommandPacket& packet);
    // Sends the command and reads its two answers; `result` receives byte 0 of the second
    // and is left alone when any of the three transfers fails. With `settleMs` the channel
    // waits that long after the command and again after the answers (sensors that need time
    // to answer).
    BOOLEAN Query(const CommandPacket& packet, PUCHAR result, ULONG settleMs = 0);
    // As Query, with the status of the transfer that failed: STATUS_IO_TIMEOUT when the camera
    // did not answer within the transport's bound (the request was cancelled).
    NTSTATUS QueryStatus(const CommandPacket& packet, PUCHAR result, ULONG settleMs = 0);

    // Held by a MutexGuard around a sequence of commands whose packets must not interleave with
    // other commands (a mode switch, a read-modify-write of a register, the sensor
    // initialisation).
    PKMUTEX Mutex() { return &lock_; }

    // Transfers that failed since the channel was made; counted under the mutex.
    ULONG FailedTransfers() const { return failedTransfers_; }

private:
    NTSTATUS TransferLocked(ULONG pipe);

    UsbTransport& transport_;
    KMUTEX lock_;
    CommandPacket packet_;
    ULONG failedTransfers_ = 0;
};

// Whether every command of a sequence went through. Made while the sequence holds the
// channel's mutex, so that no other sender's failure counts. A camera start checks it: one lost
// command (a sensor left in reset or in standby) can leave the camera silent, and a start that
// reports success then runs without frames.
class CommandOutcome {
public:
    explicit CommandOutcome(const CommandChannel& channel)
        : channel_(channel), failedBefore_(channel.FailedTransfers()) {}
    BOOLEAN AllSent() const { return channel_.FailedTransfers() == failedBefore_; }

private:
    const CommandChannel& channel_;
    ULONG failedBefore_;
};

// Waits at PASSIVE_LEVEL.
VOID DelayMilliseconds(ULONG milliseconds);

} // namespace zyn
