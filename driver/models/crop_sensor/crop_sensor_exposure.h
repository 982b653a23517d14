// Exposure of the Heron and Egret sensors. The exposure is a count of lines; the sensor takes
// it as the lines its shutter waits before the read-out within a frame of a given length, and
// the board needs the time it lasts to time the external trigger.
#pragma once

#include "driver/wdk.h"

namespace zyn::crop {

// The board's trigger timing for an exposure of `lines` lines of `lineLength` pixel clocks
// (74.25 MHz): the exposure's duration in 100-ns units less the read-out latency, in board
// clocks of 20 ns, never below the board's minimum.
constexpr ULONG TriggerTiming(ULONG lines, ULONG lineLength) {
    ULONGLONG units = static_cast<ULONGLONG>(lines) * lineLength * 10000 / 74250;
    if (units > 137) {
        units -= 137;
    }
    units *= 5;
    if (units < 1792) {
        return 1792;
    }
    return units > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<ULONG>(units);
}

struct FrameTiming {
    ULONG shutter;     // lines before the read-out starts
    ULONG frameLength; // lines of one frame
};

// Within a frame of frameLength + frameOverhead lines the shutter opens `lines` lines before the
// end; a longer exposure stretches the frame to the exposure.
constexpr FrameTiming ExposureFrameTiming(ULONG lines, ULONG frameLength, ULONG frameOverhead) {
    const ULONG frame = frameLength + frameOverhead;
    if (lines < frame) {
        return {frame - lines, frame};
    }
    return {10, lines};
}

} // namespace zyn::crop
