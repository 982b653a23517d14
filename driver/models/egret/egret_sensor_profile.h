// The Egret's place in the cropping sensor family: its array, timings and the maker's
// configuration loaded at initialisation.
#pragma once

#include "driver/models/crop_sensor/crop_sensor_profile.h"

namespace zyn::egret {

extern const crop::CropSensorProfile kSensorProfile;

} // namespace zyn::egret
