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
            .colorGainReportedMaximum = 512,
            .subSampleSteps = 0,     // no sub-sampling
            .clockSelectable = TRUE, // the clock is selectable
            .clockFromCamera = TRUE, // and read from the camera
            .dotFilter = TRUE,       // the dot filter (Dot, DotThreshold)
        },
    .baseBayerPhase = 2, // RGGB wherever the window starts
    .triggerOnValue = 37,
    .keepChunkRecords = FALSE, // a record array per frame
    .windowRegion = kRegionRule,
    .triggerAfterRegion = FALSE,
    .rawFrameIsRegion = TRUE,
    .cancelReadsOnStop = TRUE,
    .stopChecksRunFlag = TRUE,
};

} // namespace zyn::plover
