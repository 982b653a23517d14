// The Heron driver image: the model's data for the kernel streaming descriptors; the image
// itself is DriverImage<HeronDriver>.
#pragma once

#include "driver/core/data_range.h"
#include "driver/image/driver_image.h"
#include "driver/models/heron/heron_camera_device.h"
#include "driver/wdk.h"
#include "oculix_zyn_properties.h"

namespace zyn::heron {

struct HeronDriver {
    using Device = HeronCameraDevice;
    static constexpr ULONG kPropertyCount = CAMPROP_MEMORY_BYTE + 1; // ids 0 to 60
    // Processing starts only when the acquisition has a frame, with or without client frames.
    static constexpr ULONG kPinFlags = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY |
                                       KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING |
                                       KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING;
    static constexpr BOOLEAN kReportsNotRemovable = FALSE;

    // The range as the image stores it; each camera offers a copy sized by its region.
    static constexpr KS_DATARANGE_VIDEO kDataRange = StoredDataRange(kSensorWidth, kSensorHeight);
};

using HeronImage = DriverImage<HeronDriver>;

} // namespace zyn::heron
