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

constexpr CameraModelTraits kTraits = {
    .limits =
        {
            .sensorWidth = kSensorWidth,
            .sensorHeight = kSensorHeight,
            .exposureMinimum = kExposureMinimum,
            .exposureMaximum = kExposureMaximum,
            .exposureDefault = kExposureDefault,
            .gainMaximum = kGainMaximum,
            .gainDefault = kGainDefault,
            // colour gains: clamp range and the maximum reported
            .colorGainMinimum = 0,
            .colorGainMaximum = 300,
            .colorGainReportedMaximum = 255,
            .subSampleSteps = 1,      // 2 × 2 binning
            .clockSelectable = FALSE, // the clock is fixed by the camera
            .clockFromCamera = FALSE, // and not read from it
            .dotFilter = FALSE,       // no dot filter
        },
    .baseBayerPhase = 1, // BGGR at the active area's corner
    .triggerOnValue = 17,
    .keepChunkRecords = TRUE, // the record array is kept between frames
    .windowRegion = kRegionRule,
    .triggerAfterRegion = FALSE,
    .rawFrameIsRegion = TRUE,
    .sensorFlips = TRUE,
    .colorState = {.keepWorkBufferOfSameSize = true},
};

} // namespace zyn::heron
