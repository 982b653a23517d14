#include "sim/imaging/bayer.h"

namespace imaging {

std::vector<uint8_t> Mosaic(const RgbImage& image, int phase) {
    std::vector<uint8_t> raw(static_cast<size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            raw[static_cast<size_t>(y) * image.width + x] =
                image.At(x, y)[static_cast<int>(BayerChannel(phase, x, y))];
        }
    }
    return raw;
}

} // namespace imaging
