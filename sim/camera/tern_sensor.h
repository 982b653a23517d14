// Tern: 1024 registers in three banks of 6-, 16- and 22-bit data; always reads the full
// 1360 × 1024 active area, RGGB from its top-left pixel.
//
// Timing: a frame takes kFrameLines line times. The exposure is counted in lines, 6 bits each
// in 158 (low) and 159 (high), unless 154 selects the long mode: then it lasts 155 whole frames
// and the frame period stretches to match. Analogue gain 1 + G / 512, with the 10-bit code G in
// 6 (low 6 bits) and 7 (high 4 bits).
#pragma once

#include <vector>

#include "sim/camera/sensor.h"

namespace sim::camera {

class TernSensor final : public Sensor {
public:
    static constexpr unsigned kIndexBits = 10;
    static constexpr uint32_t kRegisterCount = 1024;
    static constexpr int kFrameLines = 1069;
    // What a driver with fresh settings programs: the shortest exposure, gain code 0.
    static constexpr int kDefaultExposure = 8;

    static constexpr uint32_t DataMask(uint32_t index) {
        return index < 256 ? 0x3F : index < 384 ? 0xFFFF : 0x3FFFFF;
    }

    TernSensor() : registers_(kRegisterCount, 0) {}

    // A serial word shifted out least significant bit first, its bit count in byte 1: false
    // when it is too short to carry an index.
    static bool Decode(const uint8_t* packet, SensorWrite& write);
    bool DecodeWrite(const uint8_t* packet, SensorWrite& write) const override {
        return Decode(packet, write);
    }
    // Writes while the reset line is held are lost, as on the real serial interface.
    void Write(uint32_t address, uint32_t value) override;
    uint32_t Register(uint32_t address) const override;
    // Entering reset returns every register to 0.
    void HoldInReset(bool held) override;
    void StartStreaming() override { HoldInReset(false); }
    bool Streaming() const override { return !inReset_; }
    FrameGeometry Geometry() const override;
    SensorTiming Timing() const override;

private:
    std::vector<uint32_t> registers_;
    bool inReset_ = false;
};

} // namespace sim::camera
