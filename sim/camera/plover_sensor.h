// Plover: 256 registers of 8 bits. The window origin and size sit in registers 22 to 27 (11
// bits each, split over nibbles) and the line length in 126 and 127; the window is read
// top-down, left to right, RGGB from its first pixel wherever it starts. A line has the
// window's width in samples, but only line length − 328 of them can be exposed: any further
// samples read black.
//
// Timing: a frame lasts the frame length (0x7C low, 0x7D high) in lines of the line length;
// the exposure runs from the shutter value (0x08 low, 0x09 high) to the frame's end. Analogue
// gain 2^(c / 21) × 4096 / v, with the fine code v in 0x1C and 0x1D (bits 8 to 12) and the
// coarse code c in 0x1E.
#pragma once

#include <vector>

#include "sim/camera/sensor.h"

namespace sim::camera {

class PloverSensor final : public Sensor {
public:
    static constexpr int kLineBlanking = 328;

    PloverSensor();

    // Byte 1 selects the 8-bit bus mode and must be 2; the address in byte 2, the value in
    // byte 3.
    bool DecodeWrite(const uint8_t* packet, SensorWrite& write) const override;
    void Write(uint32_t address, uint32_t value) override;
    uint32_t Register(uint32_t address) const override;
    bool Streaming() const override { return true; }
    FrameGeometry Geometry() const override;
    SensorTiming Timing() const override;

private:
    std::vector<uint8_t> registers_;
};

} // namespace sim::camera
