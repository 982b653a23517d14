#include "sim/camera/exposure_levels.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace sim::camera {

void ScaleLevels(uint8_t* data, size_t count, double scale, int noise, uint32_t* seed) {
    std::array<uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        table[v] = static_cast<uint8_t>(std::min(std::lround(v * scale), 255L));
    }
    if (noise <= 0 || seed == nullptr) {
        for (size_t i = 0; i < count; ++i) {
            data[i] = table[data[i]];
        }
        return;
    }
    uint32_t x = *seed ? *seed : 1;
    const uint32_t span = 2 * static_cast<uint32_t>(noise) + 1;
    for (size_t i = 0; i < count; ++i) {
        if (data[i] == 0) {
            continue;
        }
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const int v = table[data[i]] + static_cast<int>(x % span) - noise;
        data[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
    *seed = x;
}

} // namespace sim::camera
