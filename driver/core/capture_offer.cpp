#include "driver/core/capture_offer.h"

#include "driver/core/data_range.h"

namespace zyn {

CaptureOffer::CaptureOffer(const KSFILTER_DESCRIPTOR& image) : filter_(image) {
    // The image describes exactly one pin with exactly one video range.
    const KSPIN_DESCRIPTOR_EX& imagePin = image.PinDescriptors[0];
    RtlCopyMemory(&range_, imagePin.PinDescriptor.DataRanges[0], sizeof(range_));
    rangeList_[0] = &range_.DataRange;
    pin_ = imagePin;
    pin_.PinDescriptor.DataRangesCount = 1;
    pin_.PinDescriptor.DataRanges = rangeList_;
    filter_.PinDescriptorsCount = 1;
    filter_.PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX);
    filter_.PinDescriptors = &pin_;
}

VOID CaptureOffer::Resize(ULONG width, ULONG height, LONG framesPerSecond) {
    UpdateDataRange(&range_, width, height, framesPerSecond);
}

} // namespace zyn
