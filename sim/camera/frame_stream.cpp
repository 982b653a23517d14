#include "sim/camera/frame_stream.h"

#include <algorithm>
#include <cstring>

namespace sim::camera {

FrameStream::FrameStream(std::shared_ptr<const std::vector<uint8_t>> picture, uint64_t frameBytes,
                         size_t packetSize)
    : picture_(std::move(picture)), total_(frameBytes), packetSize_(packetSize) {
    stored_ = picture_ == nullptr ? 0 : std::min<uint64_t>(picture_->size(), total_);
}

void FrameStream::Clear() {
    picture_.reset();
    stored_ = total_ = sent_ = 0;
}

usb::DeviceModel::InResult FrameStream::Read(uint8_t* data, size_t length) {
    usb::DeviceModel::InResult result;
    const uint64_t count = std::min<uint64_t>(length, Remaining());
    if (count == 0) {
        return result;
    }
    const uint64_t fromPicture = sent_ < stored_ ? std::min(count, stored_ - sent_) : 0;
    if (fromPicture != 0) {
        std::memcpy(data, picture_->data() + sent_, static_cast<size_t>(fromPicture));
    }
    std::memset(data + fromPicture, 0, static_cast<size_t>(count - fromPicture));
    sent_ += count;
    result.bytes = static_cast<size_t>(count);
    result.shortPacket = sent_ == total_ && total_ % packetSize_ != 0;
    if (sent_ == total_) {
        Clear();
    }
    return result;
}

} // namespace sim::camera
