// What the emulated sensor makes of its exposure, gain and timing registers: picture level,
// frame period and the delay of a triggered frame, programmed as each model's driver does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "camera_wire.h"
#include "sim/camera/frame_render.h"
#include "sim/imaging/rgb_image.h"

namespace camera_test {
namespace {

using namespace sim::camera;
using std::chrono::nanoseconds;

constexpr int kGrey = 100;

CameraOptions ManualPaced() {
    CameraOptions options;
    options.manualTime = true;
    return options;
}

void SetSplit(Camera& camera, uint32_t address, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        camera.SetSensorRegister(address + i, (value >> (8 * i)) & 0xFF);
    }
}

// The exposure and gain writes of each model's driver, reduced to the registers they leave.
struct Programmer {
    Model model;
    int frameLength = 0; // Heron, Egret: window height rounded to even − 1; Plover: top + height + 92
    int lineLength = 0;  // Heron, Egret

    void Exposure(Camera& camera, uint32_t e) const {
        switch (model) {
        case Model::Tern:
            camera.SetSensorRegister(158, e & 0x3F);
            camera.SetSensorRegister(159, (e >> 6) & 0x3F);
            return;
        case Model::Plover: {
            const uint32_t frame = std::max<uint32_t>(e, frameLength);
            SetSplit(camera, 0x7C, frame, 1);
            camera.SetSensorRegister(0x7D, frame >> 8);
            SetSplit(camera, 0x08, frame - e, 2);
            return;
        }
        case Model::Heron:
        case Model::Egret: {
            const uint32_t v = frameLength + (model == Model::Heron ? 320 : 281);
            SetSplit(camera, 0x214, lineLength, 2);
            SetSplit(camera, 0x28D, e < v ? v - e : 10, 3);
            SetSplit(camera, 0x210, e < v ? v : e, 3);
            return;
        }
        }
    }

    void Gain(Camera& camera, uint32_t g) const {
        if (model == Model::Tern) {
            camera.SetSensorRegister(6, g & 0x3F);
            camera.SetSensorRegister(7, (g >> 6) & 0x0F);
        } else if (model == Model::Plover) {
            const uint32_t q = g / 30;
            const double n = 10.0 * q + g % 30;
            const auto v = static_cast<uint32_t>(std::floor(4096 * std::pow(10, -0.015 * n)));
            camera.SetSensorRegister(0x1C, v & 0xFF);
            camera.SetSensorRegister(0x1D, (v >> 8) & 0x1F);
            camera.SetSensorRegister(0x1E, 21 * q);
        } else {
            SetSplit(camera, 0x404, g, 2);
        }
    }
};

// What a driver with fresh settings programs, and an exposure three frames long.
struct Defaults {
    uint32_t exposure;
    uint32_t gain;
    uint32_t longExposure;
};

Defaults DefaultsOf(Model model) {
    switch (model) {
    case Model::Tern: return {8, 0, 0};
    case Model::Heron: return {1, 0, 3 * 2367};
    case Model::Plover: return {1, 0, 3 * 1140};
    case Model::Egret: return {1, 0, 3 * 1816};
    }
    return {};
}

// Streams the full window of a uniform grey scene with the default exposure and gain.
struct Rig {
    Camera camera;
    Programmer program;
    uint32_t frameBytes = 0;

    explicit Rig(Model model, CameraOptions options = ManualPaced())
        : camera(model, options), program{model} {
        const ModelInfo& info = camera.info();
        imaging::RgbImage grey(info.sensorWidth, info.sensorHeight);
        std::fill(grey.pixels.begin(), grey.pixels.end(), kGrey);
        camera.SetScene(grey);
        const Window full{0, 0, info.sensorWidth, info.sensorHeight};
        switch (model) {
        case Model::Tern:
            frameBytes = StartTern(camera);
            break;
        case Model::Plover:
            frameBytes = StartPlover(camera, full);
            program.frameLength = info.sensorHeight + 92;
            break;
        case Model::Heron:
        case Model::Egret:
            frameBytes = StartCropWindow(camera, full);
            SetWindow(info.sensorWidth, info.sensorHeight);
            break;
        }
        const Defaults d = DefaultsOf(model);
        program.Exposure(camera, d.exposure);
        program.Gain(camera, d.gain);
    }

    void SetWindow(int width, int height) {
        const bool heron = camera.model() == Model::Heron;
        program.frameLength = ((height + 1) & ~1) - 1;
        program.lineLength = (width + (heron ? 464 : 208)) * 3 / 2;
    }

    // Mean level of the lit samples of the next frame.
    double MeanLevel() {
        RequestFrame(camera);
        camera.AdvanceTime(camera.FramePeriod());
        const FrameRead frame = ReadData(camera, frameBytes);
        const FrameGeometry g = camera.Geometry();
        double sum = 0;
        for (int j = 0; j < g.lines; ++j) {
            for (int i = 0; i < g.width; ++i) {
                sum += frame.bytes[static_cast<size_t>(j) * g.pitch + i];
            }
        }
        return sum / (static_cast<double>(g.lines) * g.width);
    }
};

class Exposure : public ::testing::TestWithParam<Model> {};

TEST_P(Exposure, DefaultsSendTheSceneAsRenderedByteForByte) {
    Rig rig(GetParam());
    const FrameRead frame = ReadFrame(rig.camera, rig.frameBytes);
    EXPECT_EQ(frame.bytes, RenderRawFrame(*rig.camera.Scene(), rig.camera.Geometry()));
    EXPECT_EQ(rig.camera.FramePeriod(), kFrameInterval30);
}

TEST_P(Exposure, DoublingTheExposureDoublesTheLevel) {
    Rig rig(GetParam());
    const double base = rig.MeanLevel();
    EXPECT_NEAR(base, kGrey, 1.0);
    rig.program.Exposure(rig.camera, DefaultsOf(GetParam()).exposure * 2);
    const double doubled = rig.MeanLevel();
    EXPECT_NEAR(doubled / base, 2.0, 0.04) << base << " -> " << doubled;
    // Far past full scale every lit sample clips at 255.
    rig.program.Exposure(rig.camera, DefaultsOf(GetParam()).exposure * 3);
    rig.program.Gain(rig.camera, GetParam() == Model::Plover ? 119 : 480);
    EXPECT_DOUBLE_EQ(rig.MeanLevel(), 255.0);
}

TEST_P(Exposure, ALongerExposureOnlySlowsTheFrameRateOnceItOutlastsTheFrame) {
    Rig rig(GetParam());
    const Defaults d = DefaultsOf(GetParam());
    rig.program.Exposure(rig.camera, d.exposure + 1);
    EXPECT_EQ(rig.camera.FramePeriod(), kFrameInterval30);
    // Tern's normal mode ends at 1068 lines: the long mode stretches the frame by whole frames.
    if (GetParam() == Model::Tern) {
        rig.camera.SetSensorRegister(154, 1);
        rig.camera.SetSensorRegister(155, 3);
        EXPECT_NEAR(rig.camera.FramePeriod().count(), 3 * kFrameInterval30.count(), 2);
        return;
    }
    rig.program.Exposure(rig.camera, d.longExposure);
    EXPECT_GT(rig.camera.FramePeriod(), 2 * kFrameInterval30);
    EXPECT_LT(rig.camera.FramePeriod(), rig.camera.ExposureTime() * 101 / 100);
}

INSTANTIATE_TEST_SUITE_P(Camera, Exposure, AllModels(), ModelName);

TEST(Gain, CodesBrightenAsTheirFormulasSay) {
    struct Case {
        Model model;
        uint32_t gain;
        double factor; // over the default gain
    };
    const Case cases[] = {
        {Model::Tern, 256, 1.5},
        {Model::Heron, 60, std::pow(10, 60 / 200.0)},  // 6 dB
        {Model::Egret, 40, std::pow(10, 40 / 200.0)},   // 2 dB
        {Model::Plover, 10, 4096.0 / 2899},          // 3 dB in fine steps
        {Model::Plover, 20, 4096.0 / 2052},          // 6 dB
    };
    for (const Case& c : cases) {
        Rig rig(c.model);
        const double base = rig.MeanLevel();
        rig.program.Gain(rig.camera, c.gain);
        const double level = rig.MeanLevel();
        EXPECT_NEAR(level / base, c.factor, 0.02 * c.factor)
            << Info(c.model).name << " gain " << c.gain;
    }
}

TEST(FramePeriod, FollowsTheWindowsLinesAndLineLength) {
    Rig rig(Model::Heron);
    rig.program.Exposure(rig.camera, 1000);
    const nanoseconds full = rig.camera.FramePeriod();
    EXPECT_EQ(full, kFrameInterval30);
    // Half the height at the same exposure: frame length + 320 lines of the same line length.
    rig.SetWindow(2448, 1024);
    rig.program.Exposure(rig.camera, 1000);
    const double expected = (1023.0 + 320) * 4368 / ((2047.0 + 320) * 4368);
    EXPECT_NEAR(static_cast<double>(rig.camera.FramePeriod().count()) / full.count(), expected,
                1e-6);
    // Free-running frames leave one programmed period apart on the camera's clock.
    ReadFrame(rig.camera, rig.frameBytes);
    RequestFrame(rig.camera);
    const uint64_t sent = rig.camera.Status().framesSent;
    rig.camera.AdvanceTime(rig.camera.FramePeriod() - nanoseconds(1));
    EXPECT_EQ(rig.camera.Status().framesSent, sent);
    rig.camera.AdvanceTime(nanoseconds(1));
    EXPECT_EQ(rig.camera.Status().framesSent, sent + 1);
}

TEST(Trigger, AFrameLeavesOneExposureAfterItsPulse) {
    for (Model model : {Model::Tern, Model::Heron, Model::Plover, Model::Egret}) {
        Rig rig(model);
        rig.program.Exposure(rig.camera, 100);
        WriteBoard(rig.camera, 11, rig.camera.info().triggerOn);
        RequestFrame(rig.camera);
        rig.camera.AdvanceTime(kFrameInterval30 * 10);
        ASSERT_EQ(rig.camera.Status().framesSent, 0u) << Info(model).name;
        const nanoseconds exposure = rig.camera.ExposureTime();
        ASSERT_GT(exposure.count(), 0);
        EXPECT_TRUE(rig.camera.FireTrigger());
        rig.camera.AdvanceTime(exposure - nanoseconds(1));
        EXPECT_EQ(rig.camera.Status().framesSent, 0u) << Info(model).name;
        rig.camera.AdvanceTime(nanoseconds(1));
        EXPECT_EQ(rig.camera.Status().framesSent, 1u) << Info(model).name;
    }
}

TEST(Noise, IsReproducibleFromItsSeedAndKeepsTheMeanLevel) {
    CameraOptions options = ManualPaced();
    options.noise = 4;
    options.noiseSeed = 7;
    Rig a(Model::Plover, options);
    Rig b(Model::Plover, options);
    const FrameRead fa = ReadFrame(a.camera, a.frameBytes);
    const FrameRead fb = ReadFrame(b.camera, b.frameBytes);
    EXPECT_EQ(fa.bytes, fb.bytes);
    EXPECT_NE(fa.bytes, a.camera.ExpectedFrame());
    // Each frame draws its own noise over the one rendered picture.
    RequestFrame(a.camera);
    a.camera.AdvanceTime(a.camera.FramePeriod());
    EXPECT_NE(ReadData(a.camera, a.frameBytes).bytes, fa.bytes);
    a.camera.AdvanceTime(a.camera.FramePeriod());
    EXPECT_NEAR(a.MeanLevel(), kGrey, 0.5);
}

} // namespace
} // namespace camera_test
