#include "driver/models/heron/heron_driver.h"

#include "driver/control/settings_persistence.h"
#include "driver/core/data_range.h"
#include "driver/image/ks_descriptors.h"
#include "driver/models/heron/heron_camera_device.h"

namespace zyn::heron {

// Constant-initialised: the image runs no constructors.
DriverGlobals HeronDriver::module{&kRegistrySettingsStore};
const KS_DATARANGE_VIDEO HeronDriver::kDataRange = StoredDataRange(kSensorWidth, kSensorHeight);

CameraDevice* HeronDriver::NewDevice(PKSDEVICE device) {
    return new (NonPagedPool) HeronCameraDevice(device, module);
}

DriverGlobals& Globals() { return HeronDriver::module; }

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    return KsInitializeDriver(driverObject, registryPath, &KsDescriptors<HeronDriver>::kDevice);
}

} // namespace zyn::heron

template class zyn::KsDescriptors<zyn::heron::HeronDriver>;
