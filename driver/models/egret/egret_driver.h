// The Egret driver image: DriverImage<EgretDriver>.
#pragma once

#include "driver/models/crop_sensor/crop_sensor_driver.h"
#include "driver/models/egret/egret_model.h"

namespace zyn::egret {

using EgretDriver = crop::CropSensorDriver<kModel>;
using EgretImage = DriverImage<EgretDriver>;

} // namespace zyn::egret
