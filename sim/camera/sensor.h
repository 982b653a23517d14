// The image sensor behind the camera board: its register file, how a CMD_SENSOR_WRITE packet
// addresses it, and the read-out its registers program.
#pragma once

#include <cstdint>
#include <memory>

#include "sim/camera/camera_model.h"
#include "sim/camera/frame_geometry.h"

namespace sim::camera {

struct SensorWrite {
    uint32_t address = 0;
    uint32_t value = 0; // as the sensor takes it, cut to the register's data width
    uint8_t bits = 0;   // Tern: the bit count of the serial word (packet byte 1); else 0
};

// The light a frame gathers and the time it takes, as the registers program them. Times are
// in the model's nominal frame periods (the frame period its full window and default exposure
// program), so the camera scales them to its own pacing interval and the defaults keep it.
struct SensorTiming {
    double framePeriod = 1;
    double exposureTime = 0;
    // Signal relative to the exposure and gain a driver with fresh settings programs (the
    // shortest exposure, gain code 0); exactly 1 at the defaults, and 1 while
    // the exposure registers are not yet programmed (a sensor just out of reset).
    double brightness = 1;
};

class Sensor {
public:
    virtual ~Sensor() = default;

    // Decodes a CMD_SENSOR_WRITE packet (64 bytes) in this sensor's encoding. False when the
    // sensor would not take it.
    virtual bool DecodeWrite(const uint8_t* packet, SensorWrite& write) const = 0;
    // A decoded write arriving over the serial interface.
    virtual void Write(uint32_t address, uint32_t value) = 0;
    // The register's value; 0 for an address the sensor does not decode.
    virtual uint32_t Register(uint32_t address) const = 0;
    // CMD_SENSOR_CONTROL: the board's control lines to the sensor. Ignored where the model has
    // none.
    virtual void Control(uint8_t selector, uint8_t value) {
        (void)selector;
        (void)value;
    }
    // The board's sensor reset line (board register 6, bit 0). Ignored where the sensor has
    // none.
    virtual void HoldInReset(bool held) { (void)held; }
    // Brings the sensor to where the model's start sequence leaves it, reading out the full
    // active area upright, for tests that stream without a driver.
    virtual void StartStreaming() {}

    // Whether the sensor is powered, out of reset and streaming, so the board can send frames.
    virtual bool Streaming() const = 0;
    // The read-out as programmed (frameBytes is the board's, left 0 here).
    virtual FrameGeometry Geometry() const = 0;
    virtual SensorTiming Timing() const = 0;
};

std::unique_ptr<Sensor> MakeSensor(Model model);

} // namespace sim::camera
