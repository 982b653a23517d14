#include "driver/models/egret/egret_camera_device.h"

#include "driver/models/egret/egret_sensor_profile.h"

namespace zyn::egret {

EgretCameraDevice::EgretCameraDevice(struct _KSDEVICE* device, DriverGlobals& globals)
    : CropSensorCameraDevice(device, kTraits, kSensorProfile, globals) {}

} // namespace zyn::egret
