// What the camera emulator renders: the programmed part of the scene, the right way round,
// through the colour filter the drivers expect, checked against the scene itself.
#include <gtest/gtest.h>

#include "camera_wire.h"
#include "sim/camera/frame_render.h"
#include "sim/camera/scene_fit.h"
#include "sim/imaging/bayer.h"
#include "sim/imaging/png_file.h"
#include "sim/imaging/scenes.h"

namespace camera_test {
namespace {

using namespace sim::camera;

// The camera reads `window` of the scene out unbinned, a sample per pixel.
void ExpectReadout(const FrameGeometry& g, Window window) {
    EXPECT_EQ(g.windowX, window.x);
    EXPECT_EQ(g.windowY, window.y);
    EXPECT_EQ(g.width, window.width);
    EXPECT_EQ(g.lines, window.height);
}

// The window of the scene, mirrored and flipped as asked: built here pixel by pixel, apart
// from the emulator's renderer.
imaging::RgbImage Crop(const imaging::RgbImage& scene, Window w, bool mirror = false,
                       bool flip = false) {
    imaging::RgbImage out(w.width, w.height);
    for (int y = 0; y < w.height; ++y) {
        for (int x = 0; x < w.width; ++x) {
            const int sx = w.x + (mirror ? w.width - 1 - x : x);
            const int sy = w.y + (flip ? w.height - 1 - y : y);
            std::copy_n(scene.At(sx, sy), 3, out.At(x, y));
        }
    }
    return out;
}

imaging::RgbImage Bin2(const imaging::RgbImage& scene) {
    imaging::RgbImage out(scene.width / 2, scene.height / 2);
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int sum = scene.At(2 * x, 2 * y)[c] + scene.At(2 * x + 1, 2 * y)[c] +
                                scene.At(2 * x, 2 * y + 1)[c] + scene.At(2 * x + 1, 2 * y + 1)[c];
                out.At(x, y)[c] = static_cast<uint8_t>((sum + 2) / 4);
            }
        }
    }
    return out;
}

// The first lines × pitch bytes of a frame, as rows of `width` samples.
std::vector<uint8_t> Picture(const std::vector<uint8_t>& frame, int width, int lines, int pitch) {
    std::vector<uint8_t> rows;
    for (int y = 0; y < lines; ++y) {
        const auto at = frame.begin() + static_cast<long>(y) * pitch;
        rows.insert(rows.end(), at, at + width);
    }
    return rows;
}

TEST(Render, TernIsTheWholeSceneThroughAnRggbFilter) {
    Camera camera(Model::Tern, Unpaced());
    const uint32_t bytes = StartTern(camera);
    camera.SetScene(imaging::Gradient(1360, 1024));
    const FrameRead frame = ReadFrame(camera, bytes);
    EXPECT_EQ(camera.Geometry().phase, 2);
    EXPECT_EQ(frame.bytes, imaging::Mosaic(*camera.Scene(), 2));
}

struct CropCase {
    Model model;
    bool flipH;
    bool flipV;
};

class CropWindow : public ::testing::TestWithParam<CropCase> {};

INSTANTIATE_TEST_SUITE_P(
    Camera, CropWindow,
    ::testing::Values(CropCase{Model::Heron, false, false}, CropCase{Model::Heron, true, false},
                      CropCase{Model::Heron, false, true}, CropCase{Model::Heron, true, true},
                      CropCase{Model::Egret, false, false}, CropCase{Model::Egret, true, true}),
    [](const auto& info) {
        return std::string(Info(info.param.model).name) + (info.param.flipH ? "_mirrored" : "") +
               (info.param.flipV ? "_flipped" : "");
    });

// A driver that programs the crop window and flips as specified, and demosaics with the phase
// it computes, sees exactly its window of the scene the right way round.
TEST_P(CropWindow, DeliversTheWindowTheRightWayRoundInTheDriversPhase) {
    const CropCase c = GetParam();
    Camera camera(c.model, Unpaced());
    const Window window{96, 64, 400, 300};
    const uint32_t bytes = StartCropWindow(camera, window, c.flipH, c.flipV);
    camera.SetScene(imaging::Gradient(Info(c.model).sensorWidth, Info(c.model).sensorHeight));

    const FrameGeometry g = camera.Geometry();
    ExpectReadout(g, window);
    EXPECT_EQ(g.pitch, 400);
    EXPECT_EQ(g.mirrored, c.flipH);
    EXPECT_EQ(g.flipped, c.flipV);
    const int phase = DriverPhase(window, c.flipH, c.flipV);
    EXPECT_EQ(g.phase, phase);

    const FrameRead frame = ReadFrame(camera, bytes);
    ASSERT_EQ(frame.bytes.size(), bytes);
    const imaging::RgbImage expected = Crop(*camera.Scene(), window, c.flipH, c.flipV);
    EXPECT_EQ(Picture(frame.bytes, 400, 300, 400), imaging::Mosaic(expected, phase));
    EXPECT_EQ(camera.ExpectedView().pixels, expected.pixels);

    // Flipping the other way shows: a driver that got the flip wrong sees another picture.
    SetCropFlips(camera, !c.flipH, c.flipV);
    EXPECT_NE(ReadFrame(camera, bytes).bytes, frame.bytes);
}

TEST(CropWindow, UnprogrammedDirectionReadsTheSceneUpsideDown) {
    // Power-on: the sensor reads in its own direction, half a turn from the scene.
    Camera camera(Model::Heron, Unpaced());
    const FrameGeometry g = camera.Geometry();
    EXPECT_TRUE(g.mirrored);
    EXPECT_TRUE(g.flipped);
    EXPECT_EQ(g.width, 2448);
    EXPECT_EQ(g.lines, 2048);
    EXPECT_EQ(g.phase, 2); // the scene's bottom-right pixel is red
}

TEST(CropWindow, ColourFilterIsFixedOnTheArrayWhereverTheWindowStarts) {
    // Registers written directly: a window at an odd column and row of the scene.
    Camera camera(Model::Egret, Unpaced());
    camera.SetScene(imaging::Gradient(2048, 1536));
    const int w = 37, h = 23, x = 5, y = 11;
    const auto word = [&](uint32_t reg, int value) {
        camera.SetSensorRegister(reg, value & 0xFF);
        camera.SetSensorRegister(reg + 1, value >> 8);
    };
    camera.SetSensorRegister(0x20E, 3);
    word(0x510, 2064 - 8 - x - w);
    word(0x512, 1552 - 8 - y - h);
    word(0x514, w);
    word(0x516, h);
    camera.SetSensorRegister(0x500, 3);
    const FrameGeometry g = camera.Geometry();
    EXPECT_EQ(g.windowX, x);
    EXPECT_EQ(g.windowY, y);
    EXPECT_EQ(g.phase, ShiftPhase(1, x, y));
    FrameGeometry sized = g;
    sized.frameBytes = static_cast<uint32_t>(w * h);
    const std::vector<uint8_t> raw = RenderRawFrame(*camera.Scene(), sized);
    const imaging::RgbImage& scene = *camera.Scene();
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            const auto channel = imaging::BayerChannel(1, x + i, y + j); // absolute on the array
            ASSERT_EQ(raw[static_cast<size_t>(j * w + i)], scene.At(x + i, y + j)[static_cast<int>(channel)]);
        }
    }
}

TEST(CropWindow, WindowPastTheActiveAreaReadsTheMarginBlack) {
    Camera camera(Model::Heron, Unpaced());
    imaging::RgbImage white(2448, 2048);
    std::fill(white.pixels.begin(), white.pixels.end(), 255);
    camera.SetScene(white);
    // X 2401, W 47 become 2404 and 48: the last 4 columns lie in the right margin.
    const uint32_t bytes = StartCropWindow(camera, {2401, 0, 47, 64});
    const FrameGeometry g = camera.Geometry();
    EXPECT_EQ(g.windowX, 2404);
    EXPECT_EQ(g.width, 48);
    const std::vector<uint8_t> frame = ReadFrame(camera, bytes).bytes;
    for (int i = 0; i < 48; ++i) {
        EXPECT_EQ(frame[static_cast<size_t>(i)], i < 44 ? 255 : 0) << i;
    }
}

TEST(CropWindow, HeldRegistersTakeEffectTogetherOnRelease) {
    Camera camera(Model::Heron, Unpaced());
    StartCropWindow(camera, {0, 0, 2448, 2048});
    WriteSensor(camera, 0x208, 1);
    WriteSensor(camera, 0x514, 100);
    WriteSensor(camera, 0x515, 0);
    WriteSensor(camera, 0x20D, 17);
    EXPECT_EQ(camera.Geometry().width, 2448);
    EXPECT_EQ(camera.SensorRegister(0x514), 100u);
    WriteSensor(camera, 0x208, 0);
    EXPECT_EQ(camera.Geometry().width, 50); // cropped, then binned
    EXPECT_EQ(camera.Geometry().subSample, 2);
}

class Binned : public ::testing::TestWithParam<CropCase> {};

INSTANTIATE_TEST_SUITE_P(Camera, Binned,
                         ::testing::Values(CropCase{Model::Heron, false, false},
                                           CropCase{Model::Heron, true, true},
                                           CropCase{Model::Egret, true, false},
                                           CropCase{Model::Egret, false, true}),
                         [](const auto& info) {
                             return std::string(Info(info.param.model).name) +
                                    (info.param.flipH ? "_mirrored" : "") +
                                    (info.param.flipV ? "_flipped" : "");
                         });

TEST_P(Binned, TwoByTwoModeDeliversTheWholeSceneAtHalfSize) {
    const CropCase c = GetParam();
    const ModelInfo& info = Info(c.model);
    Camera camera(c.model, Unpaced());
    camera.SetScene(imaging::ColorBars(info.sensorWidth, info.sensorHeight));
    const uint32_t bytes = StartCrop2x(camera, c.flipH, c.flipV);
    const int width = info.sensorWidth / 2, lines = info.sensorHeight / 2, pitch = width + 8;
    const FrameGeometry g = camera.Geometry();
    EXPECT_EQ(g.subSample, 2);
    EXPECT_EQ(g.width, width);
    EXPECT_EQ(g.lines, lines);
    EXPECT_EQ(g.pitch, pitch);
    const int phase = DriverPhase({0, 0, width, lines}, c.flipH, c.flipV);
    EXPECT_EQ(g.phase, phase);

    const FrameRead frame = ReadFrame(camera, bytes);
    const imaging::RgbImage half = Bin2(*camera.Scene());
    const imaging::RgbImage expected = Crop(half, {0, 0, width, lines}, c.flipH, c.flipV);
    EXPECT_EQ(Picture(frame.bytes, width, lines, pitch), imaging::Mosaic(expected, phase));
}

TEST(PloverWindow, DeliversTheProgrammedWindowRggbFromItsFirstPixel) {
    Camera camera(Model::Plover, Unpaced());
    camera.SetScene(imaging::Gradient(1328, 1048));
    const Window window{101, 33, 640, 480};
    const uint32_t bytes = StartPlover(camera, window);
    const FrameGeometry g = camera.Geometry();
    ExpectReadout(g, window);
    EXPECT_EQ(g.phase, 2);
    const FrameRead frame = ReadFrame(camera, bytes);
    EXPECT_EQ(Picture(frame.bytes, 640, 480, 640), imaging::Mosaic(Crop(*camera.Scene(), window), 2));

    // A line length too short for the window leaves the end of each line dark.
    WriteSensor(camera, 127, (600 + 328) / 16);
    WriteSensor(camera, 126, ((600 + 328) % 16) << 4);
    EXPECT_EQ(camera.Geometry().windowWidth, 600);
    const std::vector<uint8_t> dark = ReadFrame(camera, bytes).bytes;
    EXPECT_TRUE(std::equal(dark.begin(), dark.begin() + 600, frame.bytes.begin()));
    EXPECT_TRUE(std::all_of(dark.begin() + 600, dark.begin() + 640, [](uint8_t b) { return b == 0; }));
}

TEST(PloverWindow, WindowRegistersRoundTripEveryField) {
    Camera camera(Model::Plover, Unpaced());
    StartPlover(camera, {1295, 1015, 1328, 1048});
    FrameGeometry g = camera.Geometry();
    ExpectReadout(g, {1295, 1015, 1328, 1048});
    EXPECT_EQ(g.windowWidth, 1328);
    StartPlover(camera, {0, 0, 166, 131});
    g = camera.Geometry();
    EXPECT_EQ(g.width, 166);
    EXPECT_EQ(g.lines, 131);
    EXPECT_EQ(g.frameBytes, 166u * 131 / 2048 * 2048 + 2048);
}

TEST(SceneFit, CoversTheSensorFromTheCentre) {
    // Twice as wide as the sensor's shape at the same height: the centre half is taken as is.
    imaging::RgbImage wide(200, 100);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 200; ++x) {
            wide.At(x, y)[0] = static_cast<uint8_t>(x);
            wide.At(x, y)[1] = static_cast<uint8_t>(y);
        }
    }
    const imaging::RgbImage fitted = FitToSensor(wide, 100, 100);
    EXPECT_EQ(fitted.pixels, Crop(wide, {50, 0, 100, 100}).pixels);

    // Enlarging keeps flat areas flat and order along an axis.
    const imaging::RgbImage large = FitToSensor(wide, 700, 300);
    EXPECT_EQ(large.width, 700);
    for (int x = 1; x < 700; ++x) {
        ASSERT_LE(large.At(x - 1, 150)[0], large.At(x, 150)[0]);
        ASSERT_EQ(large.At(x, 150)[2], 0);
    }
    EXPECT_EQ(large.At(0, 0)[0], 0);
    EXPECT_EQ(large.At(699, 0)[0], 199);
}

TEST(SceneFit, KodakPictureFillsEachSensor) {
    const std::string path = std::string(ZYN_TESTDATA) + "/kodak/kodim23.png";
    imaging::RgbImage picture;
    std::string error;
    ASSERT_TRUE(imaging::ReadPng(path, picture, error)) << error;
    Camera camera(Model::Heron, Unpaced());
    camera.SetScene(picture);
    const auto scene = camera.Scene();
    EXPECT_EQ(scene->width, 2448);
    EXPECT_EQ(scene->height, 2048);
    imaging::RgbImage named;
    ASSERT_TRUE(SceneFromSource(path, 2448, 2048, named, error)) << error;
    EXPECT_EQ(named.pixels, scene->pixels);
    EXPECT_FALSE(SceneFromSource("bar", 2448, 2048, named, error));
    EXPECT_NE(error.find("'bar'"), std::string::npos);
    // 768 × 512 covers 2448 × 2048 by height: the centre 612 columns, 4 times enlarged.
    const uint8_t* source = picture.At(384, 256);
    const uint8_t* centre = scene->At(1224, 1024);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(centre[c], source[c], 24);
    }
}

} // namespace
} // namespace camera_test
