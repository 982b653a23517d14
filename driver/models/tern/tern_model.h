// The Tern camera: a 1360 × 1024 sensor read out whole for every frame, one byte per pixel.
#pragma once

#include "driver/core/camera_model_traits.h"
#include "driver/wdk.h"

namespace zyn::tern {

constexpr LONG kSensorWidth = 1360;
constexpr LONG kSensorHeight = 1024;
constexpr ULONG kRawPitch = kSensorWidth;
constexpr ULONG kRawFrameBytes = kSensorWidth * kSensorHeight; // 0x154000

constexpr LONG kExposureMinimum = 8;
constexpr LONG kExposureMaximum = 1074;
constexpr LONG kExposureDefault = 64;
// Exposures above this run the sensor in its long-exposure mode.
constexpr LONG kLongExposureThreshold = 1068;
constexpr LONG kGainMaximum = 1023;
constexpr LONG kGainDefault = 512;

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
            .colorGainMinimum = 1,
            .colorGainMaximum = 512,
            .colorGainReportedMaximum = 512,
            .subSampleSteps = 0,      // no sub-sampling
            .clockSelectable = FALSE, // the clock is fixed by the camera
            .clockFromCamera = TRUE,  // and read from it
            .dotFilter = FALSE,       // no dot filter
        },
    .baseBayerPhase = 2, // RGGB
    .triggerOnValue = 1,
    .keepChunkRecords = FALSE, // a record array per frame
};

} // namespace zyn::tern
