// The Plover driver image: the model's data for the kernel streaming descriptors; the image
// itself is DriverImage<PloverDriver>.
#pragma once

#include "driver/core/data_range.h"
#include "driver/image/driver_image.h"
#include "driver/models/plover/plover_camera_device.h"
#include "driver/wdk.h"
#include "oculix_zyn_properties.h"

namespace zyn::plover {

struct PloverDriver {
    using Device = PloverCameraDevice;
    static constexpr ULONG kPropertyCount = CAMPROP_DOT_THRESHOLD + 1; // ids 0 to 70
    static constexpr ULONG kPinFlags = kProcessOnAcquiredFrames;
    static constexpr BOOLEAN kReportsNotRemovable = TRUE;

    // The range as the image stores it; each camera offers a copy sized by its region.
    static constexpr KS_DATARANGE_VIDEO kDataRange = StoredDataRange(kSensorWidth, kSensorHeight);
};

using PloverImage = DriverImage<PloverDriver>;

} // namespace zyn::plover
