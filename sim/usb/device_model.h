// What a USB device presents to the simulated bus: its descriptors and its endpoints. The
// camera emulator implements it; the bus (the drivers' next-lower device object) turns URBs
// into calls on it. Implementations are thread-safe: the bus calls from its own threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace sim::usb {

class DeviceModel {
public:
    virtual ~DeviceModel() = default;

    // The 18-byte device descriptor.
    virtual std::vector<uint8_t> DeviceDescriptor() const = 0;
    // Configuration descriptor `index` with its interface and endpoint descriptors
    // (wTotalLength bytes); empty when there is no such configuration.
    virtual std::vector<uint8_t> ConfigurationDescriptor(uint8_t index) const = 0;

    // An OUT transfer on a bulk endpoint (address without bit 7 set). The device takes the
    // bytes at once; false means the device stalls the endpoint.
    virtual bool Out(uint8_t endpoint, const uint8_t* data, size_t length) = 0;

    struct InResult {
        size_t bytes = 0;         // bytes copied
        bool shortPacket = false; // the data ended with a short packet: the transfer is complete
    };
    // An IN transfer on a bulk endpoint (address with bit 7 set): copies up to `length` bytes
    // that the device has ready, never blocking. A request that got fewer bytes than it asked
    // for and no short packet stays pending on the bus until more data is ready.
    virtual InResult In(uint8_t endpoint, uint8_t* data, size_t length) = 0;

    // The bus registers this once; the device calls it whenever new IN data may be ready, from
    // any thread, without holding its own locks.
    virtual void SetDataReadyCallback(std::function<void()> callback) = 0;

    // The host reset the endpoint's pipe (clear stall): pending device-side state for it is
    // dropped as the device firmware would.
    virtual void ResetEndpoint(uint8_t endpoint) { (void)endpoint; }
};

} // namespace sim::usb
