#include "driver/models/heron/heron_camera_device.h"

#include "driver/models/heron/heron_sensor_profile.h"

namespace zyn::heron {

HeronCameraDevice::HeronCameraDevice(struct _KSDEVICE* device, DriverGlobals& globals)
    : CropSensorCameraDevice(device, kTraits, kSensorProfile, globals) {}

} // namespace zyn::heron
