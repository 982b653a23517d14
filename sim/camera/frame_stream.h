// A frame on its way out of the data endpoint: the picture bytes, then zeros up to the frame
// byte count, leaving in bulk packets. The padding is never stored, so a large byte count
// costs no memory; the picture is shared, not copied, so a still scene sent again and again
// costs only its transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/usb/device_model.h"

namespace sim::camera {

class FrameStream {
public:
    FrameStream() = default;
    // The picture must not change while the stream holds it.
    FrameStream(std::shared_ptr<const std::vector<uint8_t>> picture, uint64_t frameBytes,
                size_t packetSize);

    uint64_t Remaining() const { return total_ - sent_; }
    // Drops whatever has not been sent.
    void Clear();
    // Copies up to `length` further bytes. The transfer ends with a short packet when the
    // frame's last packet is shorter than the packet size; a frame that fills its last packet
    // ends without one, as on the wire.
    usb::DeviceModel::InResult Read(uint8_t* data, size_t length);

private:
    std::shared_ptr<const std::vector<uint8_t>> picture_;
    uint64_t stored_ = 0; // picture bytes that are sent, at most the frame byte count
    uint64_t total_ = 0;
    uint64_t sent_ = 0;
    size_t packetSize_ = 1;
};

} // namespace sim::camera
