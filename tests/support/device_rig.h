// A model's device context on the emulated camera of that model, attached through the camera
// rig's analyser and configured: the driver's camera programming and frame read without the
// class driver above it. The rig has driver globals of its own, so that a test may change the
// frame read timeout without touching the model's image.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "driver/core/camera_device.h"
#include "driver/core/driver_globals.h"
#include "tests/support/camera_rig.h"
#include "tests/support/verified_test.h"

namespace camera_rig {

class DeviceRig : public CameraRig {
public:
    explicit DeviceRig(sim::camera::Model model);
    ~DeviceRig();
    DeviceRig(const DeviceRig&) = delete;
    DeviceRig& operator=(const DeviceRig&) = delete;

    zyn::DriverGlobals& Globals() { return globals_; }
    zyn::CameraDevice& Device() { return *device_; }
    template <typename T> T& As() { return static_cast<T&>(*device_); }

    // One raw frame through the device's frame read, GetRawFrameSize bytes; empty when the
    // read failed.
    std::vector<uint8_t> ReadFrame();

    // The sensor writes the camera received since the last ClearCommandLog.
    std::vector<sim::camera::SensorWrite> SensorWrites() const { return camera.SensorWriteLog(); }

private:
    zyn::DriverGlobals globals_;
    zyn::CameraDevice* device_ = nullptr;
};

// Fixture: verified (no pool block or handle left behind), with a rig made in the test.
class DeviceTest : public sim::testing::VerifiedTest {
protected:
    void TearDown() override {
        rig_.reset();
        VerifiedTest::TearDown();
    }
    DeviceRig& MakeRig(sim::camera::Model model) {
        rig_ = std::make_unique<DeviceRig>(model);
        return *rig_;
    }

private:
    std::unique_ptr<DeviceRig> rig_;
};

} // namespace camera_rig
