// Mapping a picture of any size onto the sensor's active area.
#pragma once

#include "sim/imaging/rgb_image.h"

namespace sim::camera {

// Scales the picture, keeping its aspect ratio, until it covers width × height, and takes the
// centre; bilinear interpolation in integer arithmetic, so every build gives the same pixels.
// A picture of exactly that size is returned unchanged; an empty one gives a black picture.
imaging::RgbImage FitToSensor(const imaging::RgbImage& picture, int width, int height);

} // namespace sim::camera
