// The Tern driver image: the model's data for the kernel streaming descriptors; the image
// itself is DriverImage<TernDriver>.
#pragma once

#include "driver/core/data_range.h"
#include "driver/image/driver_image.h"
#include "driver/models/tern/tern_camera_device.h"
#include "driver/wdk.h"
#include "oculix_zyn_properties.h"

namespace zyn::tern {

struct TernDriver {
    using Device = TernCameraDevice;
    static constexpr ULONG kPropertyCount = CAMPROP_COLOR_GAIN_DIALOG + 1; // ids 0 to 68
    // Kernel streaming starts processing when client frames arrive, besides the acquisition.
    static constexpr ULONG kPinFlags = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY;
    static constexpr BOOLEAN kReportsNotRemovable = FALSE;

    // The range as the image stores it; each camera offers a copy sized by its region.
    static constexpr KS_DATARANGE_VIDEO kDataRange = StoredDataRange(kSensorWidth, kSensorHeight);
};

using TernImage = DriverImage<TernDriver>;

} // namespace zyn::tern
