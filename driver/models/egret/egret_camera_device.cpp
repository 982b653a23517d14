#include "driver/models/egret/egret_camera_device.h"

#include "driver/models/egret/egret_sensor_profile.h"

namespace zyn::egret {

DriverGlobals& Globals() {
    static DriverGlobals globals;
    return globals;
}

EgretCameraDevice::EgretCameraDevice(struct _KSDEVICE* device, DriverGlobals& globals)
    : CropSensorCameraDevice(device, kTraits, kSensorProfile, globals) {}

} // namespace zyn::egret
