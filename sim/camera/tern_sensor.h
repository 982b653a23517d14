// Tern: 1024 registers in three banks of 6-, 16- and 22-bit data; always reads the full
// 1360 × 1024 active area, RGGB from its top-left pixel.
#pragma once

#include <vector>

#include "sim/camera/sensor.h"

namespace sim::camera {

class TernSensor final : public Sensor {
public:
    static constexpr unsigned kIndexBits = 10;
    static constexpr uint32_t kRegisterCount = 1024;

    static constexpr uint32_t DataMask(uint32_t index) {
        return index < 256 ? 0x3F : index < 384 ? 0xFFFF : 0x3FFFFF;
    }

    TernSensor() : registers_(kRegisterCount, 0) {}

    // Writes while the reset line is held are lost, as on the real serial interface.
    void Write(uint32_t address, uint32_t value) override;
    uint32_t Register(uint32_t address) const override;
    // Entering reset returns every register to 0.
    void HoldInReset(bool held) override;
    bool Streaming() const override { return !inReset_; }
    FrameGeometry Geometry() const override;

private:
    std::vector<uint32_t> registers_;
    bool inReset_ = false;
};

} // namespace sim::camera
