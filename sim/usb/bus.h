// The simulated USB bus: the physical device object below a camera driver. It answers the USB
// hub's internal device controls on top of a DeviceModel, and lets tests inject the faults a
// real cable, hub and camera produce.
//
// IN transfers complete asynchronously on the bus's own thread at DISPATCH_LEVEL, in order per
// endpoint, as the device provides data; everything else completes before IoCallDriver returns.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "sim/usb/device_model.h"
#include "sim/wdk/sim_wdk.h"

namespace sim::usb {

// A fault that strikes one queued IN transfer when the bus first serves it.
enum class TransferFault {
    Stall,       // the transfer fails with a stall and the endpoint halts
    Short,       // the transfer ends with a short packet halfway
    LostData,    // the first bytes meant for the transfer are lost on the way
    LongDelay,   // the transfer waits a second before any data reaches it
    DisablePort, // the hub disables the port
    Unplug,      // the device is gone (as Unplug)
};

struct BusCounters {
    uint64_t pipeResets = 0;
    uint64_t portResets = 0;
    uint64_t aborts = 0;
    uint64_t inCompleted = 0;  // IN transfers completed successfully
    uint64_t outCompleted = 0; // OUT transfers completed successfully
    uint64_t cancelled = 0;
    uint64_t faultsStruck = 0; // faults of InjectAtTransfer that struck
};

class Bus {
public:
    explicit Bus(DeviceModel& model);
    // Fails whatever is still pending and deletes the device object; no driver may be attached.
    ~Bus();
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // The device object the driver attaches to (its next-lower and physical device object).
    PDEVICE_OBJECT DeviceObject() const;

    // Faults.
    // The endpoint stalls: transfers on it fail until the driver resets the pipe.
    void StallEndpoint(uint8_t endpoint);
    // The next IN transfer on the endpoint ends with a short packet after `bytes` bytes.
    void ShortenNextTransfer(uint8_t endpoint, size_t bytes);
    // The next `bytes` bytes the device sends on the endpoint are lost on the way.
    void DropData(uint8_t endpoint, size_t bytes);
    // Each IN transfer on the endpoint completes no earlier than `delay` after it reached the
    // head of the endpoint's queue (zero: no delay).
    void SetTransferDelay(uint8_t endpoint, std::chrono::microseconds delay);
    // The hub disables the port: transfers and pipe resets fail until the driver resets the port.
    void DisablePort();
    // The device is gone: pending requests complete and new ones fail with
    // STATUS_DEVICE_NOT_CONNECTED (USBD_STATUS_DEVICE_GONE).
    void Unplug();
    // The transfer at `position` in the endpoint's queue (0: its head) meets the fault when the
    // bus first serves it; false when the queue is not that long.
    bool InjectAtTransfer(uint8_t endpoint, size_t position, TransferFault fault);
    // The largest MaximumTransferSize select-configuration grants (default: what is asked).
    void SetMaximumTransferSize(ULONG bytes);

    // Observation.
    bool Configured() const;
    bool PortEnabled() const;
    size_t PendingTransfers(uint8_t endpoint) const;
    // Waits until at least `count` transfers are pending on the endpoint; false on timeout.
    bool WaitForPendingTransfers(uint8_t endpoint, size_t count,
                                 std::chrono::milliseconds timeout) const;
    BusCounters Counters() const;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace sim::usb
