#include "sim/imaging/scenes.h"

namespace imaging {

RgbImage ColorBars(int width, int height) {
    static constexpr uint8_t kBars[8][3] = {
        {235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
        {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16},
    };
    RgbImage image(width, height);
    const int barsBottom = height * 2 / 3;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = image.At(x, y);
            if (y < barsBottom) {
                const uint8_t* bar = kBars[static_cast<long>(x) * 8 / width];
                pixel[0] = bar[0];
                pixel[1] = bar[1];
                pixel[2] = bar[2];
            } else {
                const auto grey =
                    static_cast<uint8_t>(width > 1 ? static_cast<long>(x) * 255 / (width - 1) : 0);
                pixel[0] = pixel[1] = pixel[2] = grey;
            }
        }
    }
    return image;
}

RgbImage Gradient(int width, int height) {
    RgbImage image(width, height);
    const long span = static_cast<long>(width) + height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = image.At(x, y);
            pixel[0] =
                static_cast<uint8_t>(width > 1 ? static_cast<long>(x) * 255 / (width - 1) : 0);
            pixel[1] =
                static_cast<uint8_t>(height > 1 ? static_cast<long>(y) * 255 / (height - 1) : 0);
            pixel[2] = static_cast<uint8_t>(255 - (static_cast<long>(x) + y) * 255 / span);
        }
    }
    return image;
}

} // namespace imaging
