// What distinguishes the Heron and the Egret within their sensor family: the pixel array around
// the active area, the timings of the two read-out modes, the width of the gain code and the
// maker's initialisation.
#pragma once

#include "driver/wdk.h"

namespace zyn::crop {

struct RegisterWrite {
    USHORT address;
    UCHAR value;
};

struct CropSensorProfile {
    // The crop registers count from the far corner of the pixel array: a window of width W at
    // column X of the active area starts at arrayWidth − W − (X + originX), likewise in rows.
    LONG arrayWidth;
    LONG arrayHeight;
    LONG originX;
    LONG originY;

    // Window mode: line length = (window width + lineBlanking) × 1.5 pixel clocks.
    ULONG lineBlanking;
    // 2 × 2 binning: fixed frame and line lengths, and lines padded to the pitch.
    ULONG binnedFrameLength;
    ULONG binnedLineLength;
    ULONG binnedPitch;

    // Exposure: the line length assumed before the first camera start, and the lines a frame
    // takes beyond its frame length.
    ULONG initialLineLength;
    ULONG frameOverhead;

    UCHAR gainHighMask; // bits of the gain above bit 7 that the sensor has

    // Initialisation: the sensor is powered (and on some models released from standby), then
    // given time to settle before the maker's table; then the exposure and black-level
    // registers.
    BOOLEAN releaseAtPowerUp;
    ULONG powerUpDelayMs;
    const RegisterWrite* table;
    ULONG tableLength;
    const RegisterWrite* exposureSetup;
    ULONG exposureSetupLength;
};

} // namespace zyn::crop
