// The read-out window of the Heron and Egret sensors, as the camera start programs it: where it
// lies, how the crop registers express it, the raw frame it produces and the colour its first
// sample has.
#pragma once

#include "driver/core/camera_settings.h"
#include "driver/models/crop_sensor/crop_sensor_profile.h"
#include "driver/wdk.h"

namespace zyn::crop {

// The crop registers take origins and sizes in steps of this many pixels.
constexpr LONG kCropStep = 4;

constexpr LONG RoundUpToCropStep(LONG value) {
    return (value + kCropStep - 1) & ~(kCropStep - 1);
}

struct SensorWindow {
    LONG x;
    LONG y;
    LONG width;
    LONG height;
    BOOLEAN binned; // the whole sensor, 2 × 2 pixels to a sample
};

// The window the sensor reads for the region in the settings. The region rule keeps the
// region on crop steps; the rounding here only guards the raw geometry against a region that
// is not, so that the pitch and the colour phase always describe what the sensor sends.
inline SensorWindow ReadoutWindow(const CameraSettings& settings, const SettingsLimits& limits) {
    if (settings.SubSample != 0) {
        return {0, 0, limits.sensorWidth, limits.sensorHeight, TRUE};
    }
    return {RoundUpToCropStep(settings.RoiX), RoundUpToCropStep(settings.RoiY),
            RoundUpToCropStep(settings.RoiW), RoundUpToCropStep(settings.RoiH), FALSE};
}

// Crop register values, counted from the array's far corner.
constexpr LONG CropStartX(const CropSensorProfile& profile, const SensorWindow& window) {
    return profile.arrayWidth - window.width - (window.x + profile.originX);
}
constexpr LONG CropStartY(const CropSensorProfile& profile, const SensorWindow& window) {
    return profile.arrayHeight - window.height - (window.y + profile.originY);
}

// The colour of the first sample read. The filter's layout is fixed on the array (BGGR at the
// active area's top-left corner): a window starting on an odd row starts on the other row
// type, and reading a window backwards starts at its last row or column, whose type depends on
// whether the window's height or width is even.
constexpr LONG ReadoutBayerPhase(LONG basePhase, const SensorWindow& window, LONG flipH,
                                 LONG flipV) {
    LONG phase = basePhase;
    if (window.y & 1) {
        phase ^= 1;
    }
    if (flipV && (window.height & 1) == 0) {
        phase ^= 1;
    }
    if (flipH && (window.width & 1) == 0) {
        phase = (phase + 2) & 3;
    }
    return phase;
}

// Bytes of one raw frame as the board is told them: a whole number of KiB.
constexpr ULONG RoundUpToKiB(ULONG bytes) {
    return ((bytes - 1) & ~0x3FFu) + 0x400;
}

} // namespace zyn::crop
