// The Tern driver image: the model's data for the kernel streaming descriptors, its module-wide
// state and its entry point. In the simulated build several images share a process, so the
// entry is this namespace's; the Windows image exports it as DriverEntry.
#pragma once

#include "driver/core/camera_device.h"
#include "driver/core/driver_globals.h"
#include "driver/wdk.h"
#include "oculix_zyn_properties.h"

namespace zyn::tern {

struct TernDriver {
    static constexpr ULONG kPropertyCount = CAMPROP_COLOR_GAIN_DIALOG + 1; // ids 0 to 68
    // Kernel streaming starts processing when client frames arrive, besides the acquisition.
    static constexpr ULONG kPinFlags = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY;
    static constexpr BOOLEAN kReportsNotRemovable = FALSE;

    static DriverGlobals module;
    // The range as the image stores it; each camera offers a copy sized by its region.
    static const KS_DATARANGE_VIDEO kDataRange;
    static CameraDevice* NewDevice(PKSDEVICE device);
};

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

} // namespace zyn::tern
