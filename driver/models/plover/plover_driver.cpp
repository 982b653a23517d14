#include "driver/models/plover/plover_driver.h"

#include "driver/control/settings_persistence.h"
#include "driver/core/data_range.h"
#include "driver/image/ks_descriptors.h"
#include "driver/models/plover/plover_camera_device.h"

namespace zyn::plover {

// Constant-initialised: the image runs no constructors.
DriverGlobals PloverDriver::module{&kRegistrySettingsStore};
const KS_DATARANGE_VIDEO PloverDriver::kDataRange = StoredDataRange(kSensorWidth, kSensorHeight);

CameraDevice* PloverDriver::NewDevice(PKSDEVICE device) {
    return new (NonPagedPool) PloverCameraDevice(device, module);
}

DriverGlobals& Globals() { return PloverDriver::module; }

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    return KsInitializeDriver(driverObject, registryPath, &KsDescriptors<PloverDriver>::kDevice);
}

} // namespace zyn::plover

template class zyn::KsDescriptors<zyn::plover::PloverDriver>;
