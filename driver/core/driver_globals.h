// State of one loaded driver image, shared by all of its cameras: the frame read timeout and
// the store its cameras keep their settings in. Each
// model's image has its own object, so the simulated build can hold all four models in one
// process. What a camera offers (its capture format) is the camera's own (CaptureOffer).
//
// Constant-initialised: a kernel image runs no constructors of static objects.
#pragma once

#include "driver/core/camera_settings.h"
#include "driver/core/settings_store.h"
#include "driver/kernel/interlocked.h"
#include "driver/wdk.h"

namespace zyn {

class DriverGlobals {
public:
    // Without a store the cameras' settings are neither loaded nor saved.
    constexpr DriverGlobals() = default;
    constexpr explicit DriverGlobals(const SettingsStore* settingsStore)
        : settingsStore_(settingsStore) {}
    DriverGlobals(const DriverGlobals&) = delete;
    DriverGlobals& operator=(const DriverGlobals&) = delete;

    // How long a frame read waits for its requests, in milliseconds.
    ULONG Timeout() const { return static_cast<ULONG>(ReadInterlocked(&timeout_)); }
    VOID SetTimeout(ULONG milliseconds) {
        InterlockedExchange(&timeout_, static_cast<LONG>(milliseconds));
    }

    const SettingsStore* Store() const { return settingsStore_; }

private:
    mutable LONG timeout_ = kDefaultTimeout;
    const SettingsStore* const settingsStore_ = nullptr;
};

} // namespace zyn
