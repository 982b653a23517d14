// The Heron camera: a 2448 × 2048 sensor of the cropping family that reads out a window of it,
// or the whole of it binned 2 × 2.
#pragma once

#include "driver/core/camera_model_traits.h"
#include "driver/models/crop_sensor/crop_window.h"
#include "driver/wdk.h"

namespace zyn::heron {

constexpr LONG kSensorWidth = 2448;
constexpr LONG kSensorHeight = 2048;

constexpr LONG kExposureMinimum = 1;
constexpr LONG kExposureMaximum = 32767;
constexpr LONG kExposureDefault = 2048;
constexpr LONG kGainMaximum = 480;
constexpr LONG kGainDefault = 0;

constexpr WindowRegionRule kRegionRule = {32, crop::kCropStep};
static_assert((kSensorWidth - kRegionRule.minimumSize) % crop::kCropStep == 0 &&
                  (kSensorHeight - kRegionRule.minimumSize) % crop::kCropStep == 0,
              "the sensor's edges lie on crop steps");

constexpr CameraModelTraits MakeTraits() {
    CameraModelTraits traits = {
        {
            kSensorWidth, kSensorHeight,
            kExposureMinimum, kExposureMaximum, kExposureDefault,
            kGainMaximum, kGainDefault,
            0, 300, 255, // colour gains: clamp range and the maximum reported
            1,           // 2 × 2 binning
            FALSE,       // the clock is fixed by the camera
            FALSE,       // and not read from it
            FALSE,       // no dot filter
        },
        1,    // BGGR at the active area's corner
        17,   // trigger on
        TRUE, // the record array is kept between frames
    };
    traits.windowRegion = kRegionRule;
    traits.triggerAfterRegion = FALSE;
    traits.rawFrameIsRegion = TRUE;
    traits.sensorFlips = TRUE;
    traits.colorState.keepWorkBufferOfSameSize = true;
    return traits;
}
constexpr CameraModelTraits kTraits = MakeTraits();

} // namespace zyn::heron
