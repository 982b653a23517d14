#include "driver/image/device_dispatch.h"

#include "driver/control/region_rule.h"
#include "driver/core/acquisition.h"
#include "driver/core/camera_device.h"
#include "driver/core/capture_offer.h"
#include "driver/kernel/lock_guards.h"

namespace zyn {

namespace {

// The name the filter factory is registered under.
WCHAR kReferenceString[] = L"GLOBAL";

VOID ReleaseCameraDevice(PVOID context) {
    delete static_cast<CameraDevice*>(context);
}

// Adds an object to the device's bag under the device mutex; the caller still owns it when
// this fails.
NTSTATUS AddToDeviceBag(PKSDEVICE device, PVOID item, PFNKSFREE release) {
    DeviceGuard hold(device);
    return KsAddItemToObjectBag(device->Bag, item, release);
}

} // namespace

CameraDevice* CameraDeviceOf(PKSDEVICE device) {
    return device != nullptr ? static_cast<CameraDevice*>(device->Context) : nullptr;
}

NTSTATUS AddCameraDevice(PKSDEVICE device, NewCameraDevice create,
                         const KSFILTER_DESCRIPTOR& image) {
    CameraDevice* camera = create(device);
    if (camera == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    auto* offer = new (NonPagedPool) CaptureOffer(image);
    if (offer == nullptr) {
        delete camera;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    camera->AdoptOffer(offer);
    const NTSTATUS status = AddToDeviceBag(device, camera, ReleaseCameraDevice);
    if (!NT_SUCCESS(status)) {
        delete camera;
        return status;
    }
    device->Context = camera;
    camera->Transport().Attach(device->PhysicalDeviceObject, device->NextDeviceObject,
                               device->FunctionalDeviceObject);
    // The full sensor, which also gives the camera's data range its size.
    (VOID) ApplyRegion(*camera, FullSensorRegion(*camera));
    return STATUS_SUCCESS;
}

NTSTATUS StartCameraDevice(PKSDEVICE device) {
    CameraDevice* camera = CameraDeviceOf(device);
    if (camera == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    // Kernel streaming frees the factory at every stop, so each start makes a new one.
    if (!device->Started) {
        NTSTATUS factory;
        {
            DeviceGuard hold(device);
            factory = KsCreateFilterFactory(
                device->FunctionalDeviceObject, camera->Offer()->FilterDescriptor(),
                kReferenceString, nullptr, KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr, nullptr);
        }

        if (NT_SUCCESS(factory)) {
            // An acquisition of an earlier start stays in the bag until removal; nothing uses
            // it once the device points to the new one.
            auto* acquisition = new (NonPagedPool) Acquisition(camera);
            if (acquisition != nullptr) {
                if (NT_SUCCESS(AddToDeviceBag(device, acquisition, Acquisition::ReleaseFromBag))) {
                    camera->SetAcquisition(acquisition);
                } else {
                    delete acquisition;
                }
            }
        }
    }
    NTSTATUS status = camera->Transport().Configure();
    if (NT_SUCCESS(status)) {
        status = camera->PrepareAtDeviceStart();
    }
    // Without a configuration the camera writes fail, but the stored settings still reach
    // the record.
    (VOID) camera->loadSettings();
    return status;
}

VOID StopCameraDevice(PKSDEVICE device) {
    CameraDevice* camera = CameraDeviceOf(device);
    if (camera == nullptr) {
        return;
    }
    // The acquisition thread reads through the pipe information that Unconfigure frees.
    camera->EndStreaming();
    (VOID) camera->saveSettings();
    (VOID) camera->Transport().Unconfigure();
}

VOID SurpriseRemoveCameraDevice(PKSDEVICE device) {
    CameraDevice* camera = CameraDeviceOf(device);
    if (camera == nullptr) {
        return;
    }
    // Marked first: the acquisition thread, as it ends, has the pin return its client frames.
    camera->MarkRemoved();
    camera->EndStreaming();
}

NTSTATUS QueryCameraCapabilities(PKSDEVICE, PIRP, PDEVICE_CAPABILITIES capabilities) {
    capabilities->Removable = FALSE;
    return STATUS_SUCCESS;
}

} // namespace zyn
