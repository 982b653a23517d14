#include "driver/models/tern/tern_driver.h"

#include "driver/control/settings_persistence.h"
#include "driver/core/data_range.h"
#include "driver/image/ks_descriptors.h"
#include "driver/models/tern/tern_camera_device.h"

namespace zyn::tern {

// Constant-initialised: the image runs no constructors.
DriverGlobals TernDriver::module{&kRegistrySettingsStore};
const KS_DATARANGE_VIDEO TernDriver::kDataRange = StoredDataRange(kSensorWidth, kSensorHeight);

CameraDevice* TernDriver::NewDevice(PKSDEVICE device) {
    return new (NonPagedPool) TernCameraDevice(device, module);
}

DriverGlobals& Globals() { return TernDriver::module; }

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    return KsInitializeDriver(driverObject, registryPath, &KsDescriptors<TernDriver>::kDevice);
}

} // namespace zyn::tern

template class zyn::KsDescriptors<zyn::tern::TernDriver>;
