// What the camera model tests compare a device's frames with: the picture an ideal camera would
// give for a region of the scene, and the picture a frame converts to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/core/camera_device.h"
#include "sim/camera/camera.h"
#include "sim/imaging/rgb_image.h"
#include "sim/usb/bus.h"
#include <gtest/gtest.h>

#include "tests/support/device_rig.h"

namespace model_test {

using camera_rig::DeviceRig;
using camera_rig::DeviceTest;
using sim::camera::Model;

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
::testing::AssertionResult DeliversIdealReadout(DeviceRig& rig, const IdealReadout& ideal);

// The ideal read-out converted with the drivers' pipeline at its default colour settings:
// blue, green, red, 255 per pixel, top row first.
std::vector<uint8_t> ConvertIdeal(const IdealReadout& ideal);

// A scene of the model's sensor size with detail at every pixel.
const imaging::RgbImage& DetailedScene(Model model);

} // namespace model_test
