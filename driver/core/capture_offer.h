// What one camera's filter factory offers: the camera's own capture data range and the pin and
// filter descriptors that lead to it. Kernel streaming keeps the filter descriptor's address for
// as long as the factory exists, and reads the range whenever a client asks for it, so the offer
// lives as long as its device context (which outlasts every factory of the device) and the range
// is rewritten in place.
//
// The range changes with the camera's region of interest. The device's format lock guards it:
// writers hold it, and the driver's own readers (intersection, format checks) copy the range
// under it rather than read it while it may change.
#pragma once

#include "driver/pool_object.h"
#include "driver/pool_tags.h"
#include "driver/wdk.h"

namespace zyn {

// Kernel streaming edit tag: the offer is a device's private edit of its image's descriptors.
class CaptureOffer : public PoolObject<kTagFrame> {
public:
    // Copies the image's filter descriptor, whose single pin offers the image's stored range,
    // and points the copy's pin at a range of this offer's own.
    explicit CaptureOffer(const KSFILTER_DESCRIPTOR& image);
    CaptureOffer(const CaptureOffer&) = delete;
    CaptureOffer& operator=(const CaptureOffer&) = delete;

    // For KsCreateFilterFactory.
    const KSFILTER_DESCRIPTOR* FilterDescriptor() const { return &filter_; }
    // Whether `range` is this offer's range (the one its pin descriptor lists).
    BOOLEAN Offers(const KSDATARANGE* range) const { return range == &range_.DataRange; }

    // With the device's format lock held.
    VOID Resize(ULONG width, ULONG height, LONG framesPerSecond);
    const KS_DATARANGE_VIDEO& Range() const { return range_; }

private:
    KS_DATARANGE_VIDEO range_;
    PKSDATARANGE rangeList_[1];
    KSPIN_DESCRIPTOR_EX pin_;
    KSFILTER_DESCRIPTOR filter_;
};

} // namespace zyn
