// Built-in test scenes. Each is asymmetric left to right and top to bottom, so a wrong mirror,
// flip or window shows in the picture.
#pragma once

#include "sim/imaging/rgb_image.h"

namespace imaging {

// Eight vertical colour bars (white, yellow, cyan, green, magenta, red, blue, black) over the
// top two thirds; below them a grey ramp from black on the left to white on the right.
RgbImage ColorBars(int width, int height);

// Red rising left to right, green rising top to bottom, blue falling along the diagonal.
RgbImage Gradient(int width, int height);

} // namespace imaging
