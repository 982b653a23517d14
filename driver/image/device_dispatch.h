// The device's Plug and Play dispatch, shared by the models: Add creates the camera's device
// context, Start makes the filter factory and the acquisition, configures the camera and loads
// its settings, Stop saves them and unconfigures the camera. All run at PASSIVE_LEVEL,
// serialised by kernel streaming.
#pragma once

#include "driver/wdk.h"

namespace zyn {

class CameraDevice;

// Allocates and constructs the model's device context (null when the pool is exhausted).
using NewCameraDevice = CameraDevice* (*)(PKSDEVICE device);

// The context goes into the device's object bag, which frees it at removal. The camera gets its
// own copy of the image's filter descriptor (`image`), offering the full sensor. On failure
// nothing stays allocated.
NTSTATUS AddCameraDevice(PKSDEVICE device, NewCameraDevice create,
                         const KSFILTER_DESCRIPTOR& image);
// Returns the USB configuration's status. The filter factory offers the camera's own filter
// descriptor. A filter factory or acquisition that cannot be made
// does not fail the start (the device then offers no filter, or its pin cannot stream), and
// the settings are loaded even when the configuration failed.
NTSTATUS StartCameraDevice(PKSDEVICE device);
// A stream still running (Plug and Play may stop a device whose pin is open) is stopped before
// the camera is unconfigured.
VOID StopCameraDevice(PKSDEVICE device);
// The camera is gone: the stream ends at once, and the client frames queued on the pin come
// back empty. Closing the handles, Stop and removal then free everything.
VOID SurpriseRemoveCameraDevice(PKSDEVICE device);
// Reports the camera as not removable.
NTSTATUS QueryCameraCapabilities(PKSDEVICE device, PIRP irp, PDEVICE_CAPABILITIES capabilities);

// The device context of a kernel streaming device, or null.
CameraDevice* CameraDeviceOf(PKSDEVICE device);

} // namespace zyn
