// The region of interest: what part of the sensor becomes the delivered image. The rule runs for
// the region property, for the region loaded from the registry and when a device is created; it
// rewrites the camera's offered data range for the new output size.
#pragma once

#include "driver/wdk.h"

namespace zyn {

class CameraDevice;

// A region as clients send it, in sensor pixels. Values of any sign and size are accepted: the
// rule clamps them.
struct RegionRequest {
    LONG subSample; // 0 full resolution; the models without sub-sampling ignore it
    LONG x;
    LONG y;
    LONG width;  // 0 or less: the full width
    LONG height; // 0 or less: the full height
};

// The sensor's full window at (0, 0).
RegionRequest FullSensorRegion(const CameraDevice& device);

// Applies the region to the settings record (RoiX to RoiH, OutputWidth and OutputHeight,
// SubSample and the reported window) and rewrites the camera's data range, under the device's
// format lock. Nothing changes while a capture pin exists: the pin's format must not change
// under it. Other cameras' ranges are their own. Returns whether it applied.
//
// A camera that reads out a window of its sensor keeps the region to its window rule
// (ApplyWindowRegion). For a camera that always sends the full frame the driver cuts the region
// out: X and Y are made even and kept 8 pixels inside the sensor, width and height cut to the
// sensor's edge, and the reported window is always the whole sensor. A width below 8 is raised
// to 8, so the output (the width rounded down to a multiple of 8) is never empty.
BOOLEAN ApplyRegion(CameraDevice& device, const RegionRequest& request);

} // namespace zyn
