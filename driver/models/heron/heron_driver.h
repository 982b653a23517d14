// The Heron driver image: DriverImage<HeronDriver>.
#pragma once

#include "driver/models/crop_sensor/crop_sensor_driver.h"
#include "driver/models/heron/heron_model.h"

namespace zyn::heron {

using HeronDriver = crop::CropSensorDriver<kModel>;
using HeronImage = DriverImage<HeronDriver>;

} // namespace zyn::heron
