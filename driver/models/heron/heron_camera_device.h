// The Heron device context: the cropping sensor family with the Heron's array, timings and
// maker's configuration.
#pragma once

#include "driver/models/crop_sensor/crop_sensor_camera_device.h"
#include "driver/models/heron/heron_model.h"

namespace zyn::heron {

class HeronCameraDevice : public crop::CropSensorCameraDevice {
public:
    HeronCameraDevice(struct _KSDEVICE* device, DriverGlobals& globals);
};

} // namespace zyn::heron
