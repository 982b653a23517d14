#include "tests/models/ideal_readout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <mutex>

#include "driver/pipeline/color_state.h"
#include "driver/pool_tags.h"
#include "sim/camera/frame_geometry.h"
#include "sim/imaging/bayer.h"

namespace model_test {

IdealReadout IdealRead(const imaging::RgbImage& scene, Filter filter, Region region, int subSample,
                       bool mirrored, bool flipped) {
    const int s = subSample;
    IdealReadout ideal;
    ideal.width = region.width / s;
    ideal.height = region.height / s;
    ideal.phase = filter.phase;
    if (filter.fixedOnArray) {
        // The first sample carries the filter colour of where it starts, counted in samples:
        // binning combines pixels of one colour into samples of the same layout.
        const int firstX = region.x / s + (mirrored ? ideal.width - 1 : 0);
        const int firstY = region.y / s + (flipped ? ideal.height - 1 : 0);
        ideal.phase = sim::camera::ShiftPhase(filter.phase, firstX, firstY);
    }
    ideal.samples.resize(static_cast<size_t>(ideal.width) * ideal.height);
    for (int j = 0; j < ideal.height; ++j) {
        for (int i = 0; i < ideal.width; ++i) {
            const int c = static_cast<int>(imaging::BayerChannel(ideal.phase, i, j));
            const int x0 = region.x + (mirrored ? ideal.width - 1 - i : i) * s;
            const int y0 = region.y + (flipped ? ideal.height - 1 - j : j) * s;
            unsigned sum = 0;
            for (int dy = 0; dy < s; ++dy) {
                for (int dx = 0; dx < s; ++dx) {
                    sum += scene.At(x0 + dx, y0 + dy)[c];
                }
            }
            ideal.samples[static_cast<size_t>(j) * ideal.width + i] =
                static_cast<uint8_t>((sum + s * s / 2) / (s * s));
        }
    }
    return ideal;
}

::testing::AssertionResult DeliversIdealReadout(DeviceRig& rig, const IdealReadout& ideal) {
    zyn::CameraDevice& device = rig.Device();
    const zyn::CameraSettings& settings = device.Settings();
    if (settings.RoiW != ideal.width || settings.RoiH != ideal.height) {
        return ::testing::AssertionFailure()
               << "the region is " << settings.RoiW << " x " << settings.RoiH << ", not "
               << ideal.width << " x " << ideal.height;
    }
    if (device.BayerPhase() != ideal.phase) {
        return ::testing::AssertionFailure()
               << "converted in phase " << device.BayerPhase() << ", read in " << ideal.phase;
    }
    const std::vector<uint8_t> raw = rig.ReadFrame();
    const size_t offset = device.GetRawFrameOffset();
    const size_t pitch = device.GetRawFramePitch();
    const size_t width = static_cast<size_t>(ideal.width);
    // The conversion must find the whole region within the frame the camera sent.
    if (raw.empty() || pitch < width ||
        raw.size() < offset + pitch * (static_cast<size_t>(ideal.height) - 1) + width) {
        return ::testing::AssertionFailure()
               << "a frame of " << raw.size() << " bytes, pitch " << pitch << ", holds no "
               << ideal.width << " x " << ideal.height << " region";
    }
    size_t differing = 0;
    for (size_t j = 0; j < static_cast<size_t>(ideal.height); ++j) {
        const uint8_t* line = raw.data() + offset + j * pitch;
        const uint8_t* expected = ideal.samples.data() + j * width;
        for (size_t i = 0; i < width; ++i) {
            differing += line[i] != expected[i];
        }
    }
    if (differing != 0) {
        return ::testing::AssertionFailure()
               << differing << " of " << ideal.samples.size() << " samples differ";
    }
    return ::testing::AssertionSuccess();
}

std::vector<uint8_t> ConvertIdeal(const IdealReadout& ideal) {
    std::vector<uint8_t> out(ideal.samples.size() * 4);
    auto* state = new (NonPagedPool) zyn::ColorState();
    state->SetFrameSize(ideal.width, ideal.height);
    EXPECT_EQ(state->AllocateWorkBuffer(), STATUS_SUCCESS);
    state->SetOutputBuffer(out.data());
    state->SetBayerPhase(ideal.phase);
    zyn::ConvertFrame(state, ideal.samples.data(), 0, static_cast<ULONG>(ideal.width));
    state->SetOutputBuffer(nullptr);
    delete state;
    return out;
}

const imaging::RgbImage& DetailedScene(Model model) {
    static std::mutex mutex;
    static std::map<Model, imaging::RgbImage> scenes;
    std::lock_guard<std::mutex> lock(mutex);
    auto found = scenes.find(model);
    if (found == scenes.end()) {
        const sim::camera::ModelInfo& info = sim::camera::Info(model);
        imaging::RgbImage scene(info.sensorWidth, info.sensorHeight);
        // Every pixel differs from its neighbours in every channel, so a window one pixel off,
        // a wrong direction or a wrong colour phase changes most of the picture.
        for (int y = 0; y < scene.height; ++y) {
            for (int x = 0; x < scene.width; ++x) {
                uint32_t h =
                    static_cast<uint32_t>(x) * 0x9E3779B1u ^ static_cast<uint32_t>(y) * 0x85EBCA77u;
                h ^= h >> 15;
                h *= 0x2C1B3C6Du;
                h ^= h >> 13;
                uint8_t* p = scene.At(x, y);
                p[0] = static_cast<uint8_t>(h);
                p[1] = static_cast<uint8_t>(h >> 8);
                p[2] = static_cast<uint8_t>(h >> 16);
            }
        }
        found = scenes.emplace(model, std::move(scene)).first;
    }
    return found->second;
}

} // namespace model_test
