// The light a frame gathers: samples scaled by exposure and gain relative to the defaults,
// clipped at full scale, with optional sensor noise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim::camera {

// Each byte v becomes round(v × scale) plus a noise value drawn uniformly from [−noise,
// noise], clipped to 0..255; bytes that are 0 (black margins, line padding) stay 0. The noise is
// seeded by *seed, which moves on, so a sequence of frames is reproducible from its first seed. One
// table look-up per byte, plus the noise.
void ScaleLevels(uint8_t* data, size_t count, double scale, int noise, uint32_t* seed);

} // namespace sim::camera
