// A camera of the cropping sensor family as data: the traits the shared code reads and the
// profile the family's device class programs the sensor with. Each model of the family is one
// row; what its sensor does not decide is the family's.
#pragma once

#include "driver/core/camera_model_traits.h"
#include "driver/models/crop_sensor/crop_sensor_profile.h"
#include "driver/models/crop_sensor/crop_window.h"
#include "driver/wdk.h"

namespace zyn::crop {

constexpr WindowRegionRule kRegionRule = {32, kCropStep};

// The window rule needs the sensor's edges on crop steps.
constexpr bool EdgesOnCropSteps(const SettingsLimits& limits) {
    return (limits.sensorWidth - kRegionRule.minimumSize) % kCropStep == 0 &&
           (limits.sensorHeight - kRegionRule.minimumSize) % kCropStep == 0;
}

// What a model of the family chooses; FamilyTraits completes it.
struct ModelLimits {
    LONG sensorWidth;
    LONG sensorHeight;
    LONG exposureMinimum; // lines
    LONG exposureMaximum;
    LONG exposureDefault;
    LONG gainMaximum;
    LONG gainDefault;
    ColorStateTraits colorState;
};

constexpr CameraModelTraits FamilyTraits(const ModelLimits& model) {
    return {
        .limits =
            {
                .sensorWidth = model.sensorWidth,
                .sensorHeight = model.sensorHeight,
                .exposureMinimum = model.exposureMinimum,
                .exposureMaximum = model.exposureMaximum,
                .exposureDefault = model.exposureDefault,
                .gainMaximum = model.gainMaximum,
                .gainDefault = model.gainDefault,
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
        .colorState = model.colorState,
    };
}

// One model of the family: what CropSensorCameraDevice is made with.
struct CropSensorModel {
    const CameraModelTraits& traits;
    const CropSensorProfile& profile;
};

} // namespace zyn::crop
