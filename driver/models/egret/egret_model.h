// The Egret camera: a 2048 × 1536 sensor of the cropping family that reads out a window of it,
// or the whole of it binned 2 × 2.
#pragma once

#include "driver/models/crop_sensor/crop_sensor_model.h"
#include "driver/wdk.h"

namespace zyn::egret {

inline constexpr CameraModelTraits kTraits = crop::FamilyTraits({
    .sensorWidth = 2048,
    .sensorHeight = 1536,
    .exposureMinimum = 1, // lines
    .exposureMaximum = 32767,
    .exposureDefault = 1561,
    .gainMaximum = 480,
    .gainDefault = 0,
    // The 32-bit driver saves the floating-point state around the colour arithmetic.
    .colorState = {.saveFloatingPoint = true},
});
static_assert(crop::EdgesOnCropSteps(kTraits.limits), "the sensor's edges lie on crop steps");

// The array, timings and the maker's configuration loaded at initialisation.
extern const crop::CropSensorProfile kSensorProfile;

inline constexpr crop::CropSensorModel kModel = {.traits = kTraits, .profile = kSensorProfile};

} // namespace zyn::egret
