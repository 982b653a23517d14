// What distinguishes one camera model in the code shared by all: its limits, and the few
// behaviours that are data rather than sensor programming.
#pragma once

#include "driver/core/camera_settings.h"
#include "driver/pipeline/color_state.h"
#include "driver/wdk.h"

namespace zyn {

// The region rule of the cameras whose sensor reads out a window (ApplyWindowRegion).
struct WindowRegionRule {
    LONG minimumSize; // smallest width and height of a window; 0: no window, the full sensor
    // Origin and size of a window are multiples of this (1: any pixel). The sensor width and
    // height, less the minimum size, must be multiples of it too.
    LONG alignment;
};

struct CameraModelTraits {
    SettingsLimits limits;
    LONG baseBayerPhase;  // 0 GRBG, 1 BGGR, 2 RGGB, 3 GBRG
    UCHAR triggerOnValue; // board register 11 with the external trigger on
    // The frame read keeps its chunk record array between frames instead of allocating one
    // for each frame.
    BOOLEAN keepChunkRecords;

    // Settings. The defaults are the Tern's.
    // The region is a window the sensor reads out, kept to this rule; a minimum size of 0 means
    // the camera sends its whole sensor and the driver cuts the region out of it.
    WindowRegionRule windowRegion = {};
    // The settings load switches the external trigger after the region (else before it).
    BOOLEAN triggerAfterRegion = TRUE;

    // Streaming. The defaults are the Tern's.
    // The camera sends only the region of interest; otherwise a raw frame is the whole sensor
    // and the region is cut out of it for conversion.
    BOOLEAN rawFrameIsRegion = FALSE;
    // The sensor mirrors and flips; the capture pin then delivers the frame as converted.
    BOOLEAN sensorFlips = FALSE;
    // Stopping the acquisition thread cancels its outstanding frame read first.
    BOOLEAN cancelReadsOnStop = FALSE;
    // Once a stop has begun, the thread offers no frame it still read and the process routine
    // converts none.
    BOOLEAN stopChecksRunFlag = FALSE;
    ColorStateTraits colorState = {};
};

} // namespace zyn
