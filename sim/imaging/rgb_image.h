// An 8-bit RGB picture in memory, top row first, three bytes per pixel: what scenes, PNG files
// and the tools' outputs exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace imaging {

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels; // width * height * 3 bytes: red, green, blue

    RgbImage() = default;
    RgbImage(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h * 3) {}

    uint8_t* At(int x, int y) { return &pixels[(static_cast<size_t>(y) * width + x) * 3]; }
    const uint8_t* At(int x, int y) const {
        return &pixels[(static_cast<size_t>(y) * width + x) * 3];
    }
};

} // namespace imaging
