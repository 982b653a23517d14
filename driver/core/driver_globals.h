// State of one loaded driver image, shared by all of its cameras: the frame read timeout and the
// capture format the pin offers. Each model's image has its own object, so the simulated build
// can hold all four models in one process.
//
// Constant-initialised: a kernel image runs no constructors of static objects.
#pragma once

#include "driver/control/camera_settings.h"
#include "driver/core/data_range.h"
#include "driver/kernel/interlocked.h"
#include "driver/wdk.h"

namespace zyn {

class DriverGlobals {
public:
    constexpr DriverGlobals() = default;
    constexpr explicit DriverGlobals(const KS_DATARANGE_VIDEO& dataRange)
        : dataRange_(dataRange) {}
    DriverGlobals(const DriverGlobals&) = delete;
    DriverGlobals& operator=(const DriverGlobals&) = delete;

    // How long a frame read waits for its requests, in milliseconds.
    ULONG Timeout() const {
        return static_cast<ULONG>(ReadInterlocked(&timeout_));
    }
    VOID SetTimeout(ULONG milliseconds) {
        InterlockedExchange(&timeout_, static_cast<LONG>(milliseconds));
    }

    // The one data range of the image's capture pin. Written by the region of interest of any
    // of its devices; the pin descriptor points at it.
    KS_DATARANGE_VIDEO& DataRange() { return dataRange_; }
    constexpr PKSDATARANGE DataRangeHeader() { return &dataRange_.DataRange; }

private:
    mutable LONG timeout_ = kDefaultTimeout;
    KS_DATARANGE_VIDEO dataRange_{};
};

} // namespace zyn
