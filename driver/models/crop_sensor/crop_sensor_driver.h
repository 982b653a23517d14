// The driver image of a camera of the cropping sensor family: the kernel streaming values all
// its models share, with the model's row for the device and its sensor's size for the range.
#pragma once

#include "driver/core/data_range.h"
#include "driver/image/driver_image.h"
#include "driver/models/crop_sensor/crop_sensor_camera_device.h"
#include "driver/models/crop_sensor/crop_sensor_model.h"
#include "driver/wdk.h"
#include "oculix_zyn_properties.h"

namespace zyn::crop {

template <const CropSensorModel& Row> struct CropSensorDriver {
    using Device = CropSensorCameraDevice;
    static constexpr const CropSensorModel& kFamilyRow = Row;
    static constexpr ULONG kPropertyCount = CAMPROP_MEMORY_BYTE + 1; // ids 0 to 60
    static constexpr ULONG kPinFlags = kProcessOnAcquiredFrames;
    static constexpr BOOLEAN kReportsNotRemovable = FALSE;

    // The range as the image stores it; each camera offers a copy sized by its region.
    static constexpr KS_DATARANGE_VIDEO kDataRange =
        StoredDataRange(Row.traits.limits.sensorWidth, Row.traits.limits.sensorHeight);
};

} // namespace zyn::crop
