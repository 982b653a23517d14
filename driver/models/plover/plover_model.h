// The Plover camera: a 1328 × 1048 sensor with 8-bit registers that reads out a window of it,
// top-down, always starting on a red sample. Mirror and flip are the driver's.
#pragma once

#include "driver/core/camera_model_traits.h"
#include "driver/wdk.h"

namespace zyn::plover {

constexpr LONG kSensorWidth = 1328;
constexpr LONG kSensorHeight = 1048;

constexpr LONG kExposureMinimum = 1;
constexpr LONG kExposureMaximum = 8191;
constexpr LONG kExposureDefault = 960;
constexpr LONG kGainMaximum = 119;
constexpr LONG kGainDefault = 40;

// Pixel clocks the sensor offers; board register 15 selects one.
constexpr LONG kClockCount = 6;

constexpr WindowRegionRule kRegionRule = {32, 1};

constexpr CameraModelTraits MakeTraits() {
    CameraModelTraits traits = {
        {
            kSensorWidth, kSensorHeight,
            kExposureMinimum, kExposureMaximum, kExposureDefault,
            kGainMaximum, kGainDefault,
            0, 300, 512, // colour gains: clamp range and the maximum reported
            0,           // no sub-sampling
            TRUE,        // the clock is selectable
            TRUE,        // and read from the camera
            TRUE,        // the dot filter (Dot, DotThreshold)
        },
        2,     // RGGB wherever the window starts
        37,    // trigger on
        FALSE, // a record array per frame
    };
    traits.windowRegion = kRegionRule;
    traits.triggerAfterRegion = FALSE;
    traits.rawFrameIsRegion = TRUE;
    traits.cancelReadsOnStop = TRUE;
    traits.stopChecksRunFlag = TRUE;
    return traits;
}
constexpr CameraModelTraits kTraits = MakeTraits();

} // namespace zyn::plover
