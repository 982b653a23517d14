// How the camera turns the scene into a raw frame, as its registers program it. Tests read it
// from the camera to know what the camera believes, and hand it to the renderer to compute
// the frame a correctly programmed camera sends.
#pragma once

#include <cstdint>

namespace sim::camera {

struct FrameGeometry {
    // The part of the scene the sensor window sees, in scene pixels (the scene is the active
    // area, top-left origin, as the user sees it). It may reach past the scene where the window
    // covers the array's margins: those pixels read black.
    int windowX = 0;
    int windowY = 0;
    int windowWidth = 0;
    int windowHeight = 0;
    int subSample = 1;     // 1, or 2 when 2 × 2 pixels are binned into one sample
    bool mirrored = false; // each line is read right to left relative to the scene
    bool flipped = false;  // lines are read bottom to top
    int phase = 2;         // Bayer phase of the frame's first sample (imaging::BayerChannel)

    int width = 0; // picture samples per line; samples past windowWidth / subSample read black
    int lines = 0; // picture lines
    int pitch = 0; // bytes per line on the wire: width plus line padding (zeros)
    uint32_t frameBytes = 0; // one frame on the data endpoint (board registers 0 to 3)

    // Bytes of picture before the zero padding: lines × pitch, cut at frameBytes.
    uint64_t PictureBytes() const {
        const uint64_t picture = static_cast<uint64_t>(lines) * static_cast<uint64_t>(pitch);
        return picture < frameBytes ? picture : frameBytes;
    }
};

// The phase of a filter laid out as `phase` when reading starts one column (dx odd) and/or one
// row (dy odd) further on: a one-column shift swaps 0 with 2 and 1 with 3, a one-row shift
// swaps 0 with 1 and 2 with 3.
constexpr int ShiftPhase(int phase, int dx, int dy) {
    return (phase ^ ((dx & 1) ? 2 : 0) ^ ((dy & 1) ? 1 : 0)) & 3;
}

} // namespace sim::camera
