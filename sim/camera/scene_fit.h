// Mapping a picture of any size onto the sensor's active area.
#pragma once

#include <string>

#include "sim/imaging/rgb_image.h"

namespace sim::camera {

// Scales the picture, keeping its aspect ratio, until it covers width × height, and takes the
// centre; bilinear interpolation in integer arithmetic, so every build gives the same pixels.
// A picture of exactly that size is returned unchanged; an empty one gives a black picture.
imaging::RgbImage FitToSensor(const imaging::RgbImage& picture, int width, int height);

// A scene of width × height from its source as tools name it: "bars" (imaging::ColorBars),
// "gradient" (imaging::Gradient) or the path of a PNG file, fitted with FitToSensor. On failure
// returns false and says why in `error`.
bool SceneFromSource(const std::string& source, int width, int height, imaging::RgbImage& scene,
                     std::string& error);

} // namespace sim::camera
