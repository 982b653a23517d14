// State of one loaded driver image, shared by all of its cameras: the frame read timeout. Each
// model's image has its own object, so the simulated build can hold all four models in one
// process. What a camera offers (its capture format) is the camera's own (CaptureOffer).
//
// Constant-initialised: a kernel image runs no constructors of static objects.
#pragma once

#include "driver/control/camera_settings.h"
#include "driver/kernel/interlocked.h"
#include "driver/wdk.h"

namespace zyn {

class DriverGlobals {
public:
    constexpr DriverGlobals() = default;
    DriverGlobals(const DriverGlobals&) = delete;
    DriverGlobals& operator=(const DriverGlobals&) = delete;

    // How long a frame read waits for its requests, in milliseconds.
    ULONG Timeout() const {
        return static_cast<ULONG>(ReadInterlocked(&timeout_));
    }
    VOID SetTimeout(ULONG milliseconds) {
        InterlockedExchange(&timeout_, static_cast<LONG>(milliseconds));
    }

private:
    mutable LONG timeout_ = kDefaultTimeout;
};

} // namespace zyn
