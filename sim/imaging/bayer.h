// The colour filter array of the cameras: which colour each raw sample carries. Phase 0 GRBG,
// 1 BGGR, 2 RGGB, 3 GBRG name the colours of the first two samples of the first two rows.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/imaging/rgb_image.h"

namespace imaging {

enum class Channel : uint8_t { Red = 0, Green = 1, Blue = 2 };

// The colour of sample (x, y), counted from the frame's first sample, for the phase (0 to 3).
constexpr Channel BayerChannel(int phase, int x, int y) {
    constexpr Channel kLayout[4][2][2] = {
        // [phase][y & 1][x & 1]
        {{Channel::Green, Channel::Red}, {Channel::Blue, Channel::Green}},
        {{Channel::Blue, Channel::Green}, {Channel::Green, Channel::Red}},
        {{Channel::Red, Channel::Green}, {Channel::Green, Channel::Blue}},
        {{Channel::Green, Channel::Blue}, {Channel::Red, Channel::Green}},
    };
    return kLayout[phase & 3][y & 1][x & 1];
}

// Samples the picture through the colour filter: one byte per pixel, rows of `width` bytes.
std::vector<uint8_t> Mosaic(const RgbImage& image, int phase);

} // namespace imaging
