// What the camera model tests stand on: a model's device context on the emulated camera of
// that model, plugged into the simulated bus; frame reads into non-paged pool; the picture a
// frame converts to; and the picture an ideal camera would give for a region of the scene.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/core/camera_device.h"
#include "sim/camera/camera.h"
#include "sim/imaging/rgb_image.h"
#include "sim/usb/bus.h"
#include <gtest/gtest.h>

#include "tests/support/verified_test.h"

namespace model_test {

using sim::camera::Model;

// The camera, unpaced on real time (its command log carries real times), on the bus, and the
// model's device context attached to it and configured.
class ModelRig {
public:
    explicit ModelRig(Model model);
    ~ModelRig();
    ModelRig(const ModelRig&) = delete;
    ModelRig& operator=(const ModelRig&) = delete;

    sim::camera::Camera camera;
    sim::usb::Bus bus;

    zyn::CameraDevice& Device() { return *device_; }
    template <typename T>
    T& As() {
        return static_cast<T&>(*device_);
    }

    // One raw frame through the device's frame read, GetRawFrameSize bytes; empty when the
    // read failed.
    std::vector<uint8_t> ReadFrame();

    // The sensor writes the camera received since the last ClearCommandLog.
    std::vector<sim::camera::SensorWrite> SensorWrites() const { return camera.SensorWriteLog(); }

private:
    zyn::CameraDevice* device_ = nullptr;
};

// The colour filter of a sensor: fixed on the pixel array, so that the colour of a frame's first
// sample depends on where the read-out starts (`phase` is then that of the scene's top-left
// pixel), or following the window, whose first sample always has `phase`.
struct Filter {
    int phase;
    bool fixedOnArray;
};

struct Region {
    int x, y, width, height;
};

// What an ideal camera reads for a region of the scene (in scene pixels), binned `subSample` ×
// `subSample`, mirrored and flipped as asked, through its colour filter: one byte a sample,
// lines packed, and the phase of its first sample.
struct IdealReadout {
    int width = 0;
    int height = 0;
    int phase = 0;
    std::vector<uint8_t> samples;
};
IdealReadout IdealRead(const imaging::RgbImage& scene, Filter filter, Region region,
                       int subSample = 1, bool mirrored = false, bool flipped = false);

// Reads a frame through the device and checks that the region the conversion takes from it
// (RoiW × RoiH samples at the raw offset, raw pitch apart) is the ideal read-out, and that the
// device converts it in the ideal read-out's phase.
::testing::AssertionResult DeliversIdealReadout(ModelRig& rig, const IdealReadout& ideal);

// The ideal read-out converted with the drivers' pipeline at its default colour settings:
// blue, green, red, 255 per pixel, top row first.
std::vector<uint8_t> ConvertIdeal(const IdealReadout& ideal);

// A scene of the model's sensor size with detail at every pixel.
const imaging::RgbImage& DetailedScene(Model model);

// Fixture: verified (no pool block or handle left behind), with a rig made in the test.
class ModelTest : public sim::testing::VerifiedTest {
protected:
    void TearDown() override {
        rig_.reset();
        VerifiedTest::TearDown();
    }
    ModelRig& MakeRig(Model model) {
        rig_ = std::make_unique<ModelRig>(model);
        return *rig_;
    }

private:
    std::unique_ptr<ModelRig> rig_;
};

} // namespace model_test
