// The Heron camera: a 2448 × 2048 sensor of the cropping family that reads out a window of it,
// or the whole of it binned 2 × 2.
#pragma once

#include "driver/models/crop_sensor/crop_sensor_model.h"
#include "driver/wdk.h"

namespace zyn::heron {

inline constexpr CameraModelTraits kTraits = crop::FamilyTraits({
    .sensorWidth = 2448,
    .sensorHeight = 2048,
    .exposureMinimum = 1, // lines
    .exposureMaximum = 32767,
    .exposureDefault = 2048,
    .gainMaximum = 480,
    .gainDefault = 0,
    .colorState = {.keepWorkBufferOfSameSize = true},
});
static_assert(crop::EdgesOnCropSteps(kTraits.limits), "the sensor's edges lie on crop steps");

// The array, timings and the maker's configuration loaded at initialisation.
extern const crop::CropSensorProfile kSensorProfile;

inline constexpr crop::CropSensorModel kModel = {.traits = kTraits, .profile = kSensorProfile};

} // namespace zyn::heron
