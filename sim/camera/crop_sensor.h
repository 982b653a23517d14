// Heron and Egret: 16-bit register addresses with 8-bit data, and a read-out programmed by
// crop registers counted from the pixel array's far edge, a 2 × 2 binning mode and read-out
// direction bits.
//
// The sensor sits rotated by half a turn behind the lens: its own column 0 is the scene's
// right edge and its row 0 the scene's bottom (margins included). The crop registers are in
// the sensor's coordinates; with both direction bits of 0x20E set the lines come out upright,
// with a bit clear that direction is reversed. The colour filter is fixed on the array: in
// scene coordinates the active area's top-left pixel is blue (BGGR), so the phase of a frame
// follows from where its first sample lies.
//
// Registers that shape the read-out (mode 0x20D, direction 0x20E, crop enable 0x500, crop
// window 0x510 to 0x517) take effect at once, except while bit 0 of the hold register 0x208
// is set: then they are collected and take effect together when the hold is released.
//
// Timing: a frame lasts the frame length (0x210 to 0x212, 20 bits) in lines of the line length
// (0x214, 0x215) pixel clocks; the exposure ends the frame and starts the shutter value
// (0x28D to 0x28F) lines after it began. Analogue gain is 0.1 dB a step of the 9-bit code in
// 0x404 (low) and 0x405.
#pragma once

#include <array>
#include <vector>

#include "sim/camera/sensor.h"

namespace sim::camera {

class CropSensor final : public Sensor {
public:
    static constexpr uint32_t kHold = 0x208;
    static constexpr uint32_t kMode = 0x20D;
    static constexpr uint32_t kDirection = 0x20E;
    static constexpr uint32_t kCropEnable = 0x500;
    static constexpr uint32_t kCropWindow = 0x510; // 8 registers: start x, start y, width, height
    static constexpr uint8_t kBinned2x = 0x11;     // mode value of the 2 × 2 binning mode
    static constexpr int kBinnedLinePadding = 8;   // zero samples closing each binned line
    static constexpr uint8_t kPowerControl = 0x20; // CMD_SENSOR_CONTROL selectors
    static constexpr uint8_t kStreamControl = 0x60;

    // The full window at the shortest exposure, as the camera start and exposure program it:
    // the timing the brightness and frame period are relative to.
    struct NominalTiming {
        double frameLines;
        double lineLength;
        double exposureLines;
    };

    CropSensor(Model model, NominalTiming nominal);

    // The address high byte first in bytes 1 and 2, the value in byte 3.
    bool DecodeWrite(const uint8_t* packet, SensorWrite& write) const override;
    void Write(uint32_t address, uint32_t value) override;
    uint32_t Register(uint32_t address) const override;
    void Control(uint8_t selector, uint8_t value) override;
    // Streams once powered (control 0x20) and released from standby (control 0x60).
    bool Streaming() const override { return powered_ && released_; }
    void StartStreaming() override;
    FrameGeometry Geometry() const override;
    SensorTiming Timing() const override;

private:
    // The read-out registers in effect: mode, direction, crop enable, crop window.
    struct Readout {
        uint8_t mode = 0;
        uint8_t direction = 0;
        uint8_t cropEnable = 0;
        std::array<uint8_t, 8> window{};
    };

    void TakeEffect();

    const ModelInfo& info_;
    const NominalTiming nominal_;
    std::vector<uint8_t> registers_;
    Readout active_;
    bool powered_ = false;
    bool released_ = false;
};

} // namespace sim::camera
