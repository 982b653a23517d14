// The region rule of the cameras whose sensor reads out a window (Heron, Plover, Egret): the
// region of interest is programmed into the sensor, so it must lie inside the sensor, keep a
// minimum size and, where the sensor's crop registers count in steps, sit on those steps.
// Sub-sampling replaces the region by the whole sensor, read out at a fraction of its size.
#pragma once

#include "driver/control/region_rule.h"
#include "driver/core/camera_model_traits.h"
#include "driver/core/camera_settings.h"
#include "driver/wdk.h"

namespace zyn {

// Stores the region the request leads to in SubSample, Roi*, Report* and Output*. The caller
// decides whether the region may change (not while a pin exists) and rewrites the capture
// format afterwards.
//
// An origin that leaves less than the minimum size before the sensor's edge (negative ones
// included) is taken as 0; a size below the minimum is raised to it and cut at the sensor's
// edge; then origin and size are rounded up to the alignment. A sub-sample index the model does
// not offer counts as 0 (full resolution). Sub-sampled, the window is the whole sensor, which
// Report* show, and the region is the sub-sampled picture at the origin.
VOID ApplyWindowRegion(CameraSettings& settings, const SettingsLimits& limits,
                       const WindowRegionRule& rule, const RegionRequest& request);

} // namespace zyn
