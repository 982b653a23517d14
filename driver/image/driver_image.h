// A camera driver image made from its model's data: the module-wide state, the device factory
// and the entry point, with the descriptors of KsDescriptors<Model>. In the simulated build
// several images share a process, each with its own module object; the Windows image exports
// DriverImage<Model>::DriverEntry as DriverEntry (image_entry.cpp).
//
// Besides what KsDescriptors<Model> reads, a model names its device context:
//   using Device = ...;  // a CameraDevice made from (PKSDEVICE, DriverGlobals&)
// and, where that class serves a family of models, the model's row it is made with:
//   static constexpr const auto& kFamilyRow = ...;  // (PKSDEVICE, row, DriverGlobals&)
#pragma once

#include "driver/control/settings_persistence.h"
#include "driver/core/camera_device.h"
#include "driver/core/driver_globals.h"
#include "driver/image/ks_descriptors.h"
#include "driver/wdk.h"

namespace zyn {

template <class Model> class DriverImage {
public:
    // Constant-initialised: a kernel image runs no constructors of static objects. The cameras
    // keep their settings in the registry.
    static constinit inline DriverGlobals module{&kRegistrySettingsStore};

    // new (NonPagedPool) <the model's device>; null when the pool is exhausted.
    static CameraDevice* NewDevice(PKSDEVICE device) {
        if constexpr (requires { Model::kFamilyRow; }) {
            return new (NonPagedPool) typename Model::Device(device, Model::kFamilyRow, module);
        } else {
            return new (NonPagedPool) typename Model::Device(device, module);
        }
    }

    static NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
        return KsInitializeDriver(driverObject, registryPath, &KsDescriptors<Model>::kDevice);
    }
};

} // namespace zyn
