#include "driver/models/egret/egret_driver.h"

#include "driver/control/settings_persistence.h"
#include "driver/core/data_range.h"
#include "driver/image/ks_descriptors.h"
#include "driver/models/egret/egret_camera_device.h"

namespace zyn::egret {

// Constant-initialised: the image runs no constructors.
DriverGlobals EgretDriver::module{&kRegistrySettingsStore};
const KS_DATARANGE_VIDEO EgretDriver::kDataRange = StoredDataRange(kSensorWidth, kSensorHeight);

CameraDevice* EgretDriver::NewDevice(PKSDEVICE device) {
    return new (NonPagedPool) EgretCameraDevice(device, module);
}

DriverGlobals& Globals() { return EgretDriver::module; }

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    return KsInitializeDriver(driverObject, registryPath, &KsDescriptors<EgretDriver>::kDevice);
}

} // namespace zyn::egret

template class zyn::KsDescriptors<zyn::egret::EgretDriver>;
