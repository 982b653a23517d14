#include "driver/control/region_rule.h"

#include "driver/control/window_region_rule.h"
#include "driver/core/camera_device.h"
#include "driver/core/capture_offer.h"
#include "driver/core/data_range.h"
#include "driver/kernel/interlocked.h"
#include "driver/kernel/lock_guards.h"

namespace zyn {

namespace {

// The origin rounded up to even and kept a whole output step inside the sensor. Computed
// wide, so that the rounding of the largest odd value cannot overflow.
LONG ClampOrigin(LONG requested, LONG sensorSide) {
    LONGLONG origin = requested;
    if (origin & 1) {
        origin += 1;
    }
    const LONGLONG last = sensorSide - kOutputWidthStep;
    if (origin < 0) {
        origin = 0;
    } else if (origin > last) {
        origin = last;
    }
    return static_cast<LONG>(origin);
}

// The side length: 0 or less is the whole sensor; cut to the sensor's edge from `origin`.
LONG ClampSide(LONG requested, LONG origin, LONG sensorSide) {
    LONG side = requested <= 0 || requested > sensorSide ? sensorSide : requested;
    if (origin + side > sensorSide) {
        side = sensorSide - origin;
    }
    return side;
}

// The region of a camera that always sends the full frame: the driver cuts it out.
VOID ApplyCutRegion(CameraSettings& settings, const SettingsLimits& limits,
                    const RegionRequest& request) {
    const LONG x = ClampOrigin(request.x, limits.sensorWidth);
    const LONG y = ClampOrigin(request.y, limits.sensorHeight);
    LONG width = ClampSide(request.width, x, limits.sensorWidth);
    const LONG height = ClampSide(request.height, y, limits.sensorHeight);
    // An output must have pixels; the origin leaves room for this much.
    if (width < kOutputWidthStep) {
        width = kOutputWidthStep;
    }

    settings.RoiX = x;
    settings.RoiY = y;
    settings.RoiW = width;
    settings.RoiH = height;
    settings.OutputWidth = width & ~(kOutputWidthStep - 1);
    settings.OutputHeight = height;
    settings.SubSample = 0;
    settings.ReportX = 0;
    settings.ReportY = 0;
    settings.ReportW = limits.sensorWidth;
    settings.ReportH = limits.sensorHeight;
}

} // namespace

RegionRequest FullSensorRegion(const CameraDevice& device) {
    const SettingsLimits& limits = device.Traits().limits;
    return RegionRequest{0, 0, 0, limits.sensorWidth, limits.sensorHeight};
}

BOOLEAN ApplyRegion(CameraDevice& device, const RegionRequest& request) {
    // Under the format lock a pin cannot appear between the check and the change, and readers
    // of the offered range never see it half rewritten.
    SpinLockGuard hold(device.FormatLock());
    CameraSettings& settings = device.Settings();
    if (ReadInterlocked(&settings.PinOpen) != 0) {
        return FALSE;
    }
    const SettingsLimits& limits = device.Traits().limits;
    const WindowRegionRule& window = device.Traits().windowRegion;
    if (window.minimumSize != 0) {
        ApplyWindowRegion(settings, limits, window, request);
    } else {
        ApplyCutRegion(settings, limits, request);
    }
    if (CaptureOffer* offer = device.Offer()) {
        offer->Resize(static_cast<ULONG>(settings.OutputWidth),
                      static_cast<ULONG>(settings.OutputHeight), kFramesPerSecond);
    }
    return TRUE;
}

} // namespace zyn
