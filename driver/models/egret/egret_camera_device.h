// The Egret device context: the cropping sensor family with the Egret's array, timings and
// maker's configuration.
#pragma once

#include "driver/models/crop_sensor/crop_sensor_camera_device.h"
#include "driver/models/egret/egret_model.h"

namespace zyn::egret {

class EgretCameraDevice : public crop::CropSensorCameraDevice {
public:
    EgretCameraDevice(struct _KSDEVICE* device, DriverGlobals& globals);
};

} // namespace zyn::egret
