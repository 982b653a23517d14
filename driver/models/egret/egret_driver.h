// The Egret driver image: the model's data for the kernel streaming descriptors, its module-wide
// state and its entry point. In the simulated build several images share a process, so the
// entry is this namespace's; the Windows image exports it as DriverEntry.
#pragma once

#include "driver/core/camera_device.h"
#include "driver/core/driver_globals.h"
#include "driver/wdk.h"
#include "oculix_zyn_properties.h"

namespace zyn::egret {

struct EgretDriver {
    static constexpr ULONG kPropertyCount = CAMPROP_MEMORY_BYTE + 1; // ids 0 to 60
    // Processing starts only when the acquisition has a frame, with or without client frames.
    static constexpr ULONG kPinFlags = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY |
                                       KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING |
                                       KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING;
    static constexpr BOOLEAN kReportsNotRemovable = FALSE;

    static DriverGlobals module;
    // The range as the image stores it; each camera offers a copy sized by its region.
    static const KS_DATARANGE_VIDEO kDataRange;
    static CameraDevice* NewDevice(PKSDEVICE device);
};

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

} // namespace zyn::egret
