// Reading and writing 8-bit RGB PNG files (where the build has libpng: ZYN_WITH_PNG).
#pragma once

#include <string>

#include "sim/imaging/rgb_image.h"

namespace imaging {

// Reads any PNG as 8-bit RGB (grey and palette pictures are expanded, alpha is dropped).
// On failure returns false and says why in `error`.
bool ReadPng(const std::string& path, RgbImage& image, std::string& error);

// Writes the picture as an 8-bit RGB PNG. On failure returns false and says why in `error`.
bool WritePng(const std::string& path, const RgbImage& image, std::string& error);

// Converts a BGRA frame buffer (4 bytes a pixel: blue, green, red, unused; rows `strideBytes`
// apart, top row first) into an RGB picture.
RgbImage FromBgra(const uint8_t* bgra, int width, int height, size_t strideBytes);

} // namespace imaging
