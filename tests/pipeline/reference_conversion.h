// A plain, one-pixel-at-a-time model of the whole frame conversion, written from the
// definition of the conversion and independent of the vector code it checks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace reference {

struct Settings {
    int phase = 0;
    bool color = true;
    bool whiteBalance = false;
    long redGain = 128;
    long greenGain = 128;
    long blueGain = 128;
    std::array<long, 16> matrix{}; // fixed point, 64 = 1.0
    long dotThreshold = 0;
};

struct Result {
    std::vector<uint8_t> bgra;                     // width x height x 4
    long redGain = 0, greenGain = 0, blueGain = 0; // the gains the frame was converted with
};

// Converts one frame. The border around a frame under 8 pixels holds zeros, as in a freshly
// allocated working buffer.
Result Convert(const uint8_t* raw, size_t offset, size_t pitch, int width, int height,
               const Settings& settings);

// The fixed-point matrix for the given colour settings, built from scratch.
std::array<long, 16> FixedMatrix(long correction, long brightness, long contrast, long saturation,
                                 long hue);

} // namespace reference
