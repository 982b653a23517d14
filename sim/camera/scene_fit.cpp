#include "sim/camera/scene_fit.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/imaging/png_file.h"
#include "sim/imaging/scenes.h"

namespace sim::camera {
namespace {

constexpr int kFractionBits = 16;
constexpr int64_t kOne = int64_t{1} << kFractionBits;

struct Tap {
    int low;
    int high;
    int64_t weight; // of `high`, in 1 / kOne
};

// Source taps for each of `count` destination positions. The scale is numerator / denominator
// source pixels per destination pixel and `source` pixels exist; the destination is centred
// on the source. Pixel centres sit at half-integer positions on both sides.
std::vector<Tap> Taps(int count, int source, int64_t numerator, int64_t denominator) {
    std::vector<Tap> taps(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        // position = (source - count * n/d) / 2 + (i + 0.5) * n/d - 0.5, times 2d:
        const int64_t twice =
            source * denominator - count * numerator + (2 * i + 1) * numerator - denominator;
        int64_t fixed = (twice * kOne) / (2 * denominator);
        fixed = std::clamp<int64_t>(fixed, 0, int64_t{source - 1} * kOne);
        const int low = static_cast<int>(fixed >> kFractionBits);
        taps[static_cast<size_t>(i)] = {low, std::min(low + 1, source - 1), fixed & (kOne - 1)};
    }
    return taps;
}

} // namespace

imaging::RgbImage FitToSensor(const imaging::RgbImage& picture, int width, int height) {
    if (picture.width == width && picture.height == height) {
        return picture;
    }
    imaging::RgbImage out(width, height);
    if (picture.width <= 0 || picture.height <= 0 || width <= 0 || height <= 0) {
        return out;
    }
    // Cover: the smaller of the two source-per-destination ratios fills both directions.
    int64_t numerator = picture.width;
    int64_t denominator = width;
    if (int64_t{picture.height} * width < int64_t{picture.width} * height) {
        numerator = picture.height;
        denominator = height;
    }
    const std::vector<Tap> columns = Taps(width, picture.width, numerator, denominator);
    const std::vector<Tap> rows = Taps(height, picture.height, numerator, denominator);
    for (int y = 0; y < height; ++y) {
        const Tap& r = rows[static_cast<size_t>(y)];
        for (int x = 0; x < width; ++x) {
            const Tap& c = columns[static_cast<size_t>(x)];
            const uint8_t* p00 = picture.At(c.low, r.low);
            const uint8_t* p01 = picture.At(c.high, r.low);
            const uint8_t* p10 = picture.At(c.low, r.high);
            const uint8_t* p11 = picture.At(c.high, r.high);
            uint8_t* d = out.At(x, y);
            for (int k = 0; k < 3; ++k) {
                const int64_t top = p00[k] * (kOne - c.weight) + p01[k] * c.weight;
                const int64_t bottom = p10[k] * (kOne - c.weight) + p11[k] * c.weight;
                const int64_t value = top * (kOne - r.weight) + bottom * r.weight;
                d[k] = static_cast<uint8_t>((value + (kOne * kOne / 2)) >> (2 * kFractionBits));
            }
        }
    }
    return out;
}

bool SceneFromSource(const std::string& source, int width, int height, imaging::RgbImage& scene,
                     std::string& error) {
    if (source == "bars") {
        scene = imaging::ColorBars(width, height);
        return true;
    }
    if (source == "gradient") {
        scene = imaging::Gradient(width, height);
        return true;
    }
    imaging::RgbImage picture;
    if (!imaging::ReadPng(source, picture, error)) {
        error =
            "scene '" + source + "' is neither bars, gradient nor a readable PNG file: " + error;
        return false;
    }
    scene = FitToSensor(picture, width, height);
    return true;
}

} // namespace sim::camera
