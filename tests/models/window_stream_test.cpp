// Heron, Plover and Egret streaming end to end: an application's capture through each driver
// from its emulated camera. The delivered pictures are compared with what an ideal camera of
// the model reads from the scene for the region and flips asked, converted by the pipeline
// (exactly), and on a smooth scene with the scene itself (within the demosaic's error).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "oculix_zyn_properties.h"
#include "sim/imaging/scenes.h"
#include "tests/models/ideal_readout.h"
#include "tests/support/stream_fixture.h"
#include "sim/host/camera_properties.h"

namespace model_test {
namespace {

using zyn::capture::CaptureSession;

// The stream fixture with a camera of any model, at the driver's own read timeout.
class WindowStreamTest : public zyn::e2e::StreamTest {
protected:
    void Open(const std::string& model, const imaging::RgbImage& scene) {
        zyn::capture::SessionOptions options;
        options.model = model;
        options.frameInterval = std::chrono::nanoseconds{0};
        options.scene = std::make_shared<const imaging::RgbImage>(scene);
        options.clientFrames = 2;
        std::string error;
        session_ = CaptureSession::Open(options, &error);
        ASSERT_NE(session_, nullptr) << error;
    }
    // Streams `count` pictures and closes the pin again; the pictures top row first.
    std::vector<imaging::RgbImage> Capture(int count = 1) {
        std::vector<imaging::RgbImage> pictures;
        EXPECT_EQ(session_->CreatePin(), STATUS_SUCCESS);
        EXPECT_EQ(session_->SetState(KSSTATE_RUN), STATUS_SUCCESS);
        for (int i = 0; i < count; ++i) {
            std::unique_ptr<sim::host::Frame> frame = session_->NextFrame(std::chrono::seconds(20));
            if (frame == nullptr) {
                ADD_FAILURE() << "no picture " << i;
                break;
            }
            EXPECT_EQ(frame->header().DataUsed, session_->imageBytes());
            if (const KS_FRAME_INFO* info = frame->frameInfo()) {
                frameInfo_.push_back(*info);
            }
            pictures.push_back(
                zyn::capture::PictureFromFrame(frame->data(), session_->videoInfo()));
            EXPECT_EQ(session_->Requeue(std::move(frame)), STATUS_PENDING);
        }
        session_->ClosePin();
        return pictures;
    }

    // Streams one picture: the same as `expected`, or like the smooth `scene`'s region.
    ::testing::AssertionResult CapturesSame(const imaging::RgbImage& expected);
    ::testing::AssertionResult CapturesLike(const imaging::RgbImage& scene,
                                            model_test::Region region, bool mirror, bool flip);

    std::vector<KS_FRAME_INFO> frameInfo_;
};

// The ideal read-out as the pin delivers it: its leftmost `width` columns, mirrored and turned
// top-down as the pin does it on the models that do not flip in the sensor.
imaging::RgbImage Delivered(const IdealReadout& ideal, int width, bool mirror = false,
                            bool flip = false) {
    const std::vector<uint8_t> bgra = ConvertIdeal(ideal);
    imaging::RgbImage picture(width, ideal.height);
    for (int y = 0; y < ideal.height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int sx = mirror ? width - 1 - x : x;
            const int sy = flip ? ideal.height - 1 - y : y;
            const uint8_t* p = &bgra[(static_cast<size_t>(sy) * ideal.width + sx) * 4];
            uint8_t* q = picture.At(x, y);
            q[0] = p[2];
            q[1] = p[1];
            q[2] = p[0];
        }
    }
    return picture;
}

::testing::AssertionResult Same(const imaging::RgbImage& actual,
                                const imaging::RgbImage& expected) {
    if (actual.width != expected.width || actual.height != expected.height) {
        return ::testing::AssertionFailure() << actual.width << " x " << actual.height << ", not "
                                             << expected.width << " x " << expected.height;
    }
    size_t differing = 0;
    for (size_t i = 0; i < actual.pixels.size(); i += 3) {
        differing += actual.pixels[i] != expected.pixels[i] ||
                     actual.pixels[i + 1] != expected.pixels[i + 1] ||
                     actual.pixels[i + 2] != expected.pixels[i + 2];
    }
    if (differing != 0) {
        return ::testing::AssertionFailure()
               << differing << " of " << actual.pixels.size() / 3 << " pixels differ";
    }
    return ::testing::AssertionSuccess();
}

// Against the scene itself, with the colour matrix off: every channel within the demosaic's
// error on a smooth scene.
::testing::AssertionResult LooksLike(const imaging::RgbImage& actual,
                                     const imaging::RgbImage& scene, Region region, bool mirror,
                                     bool flip) {
    if (actual.width != region.width || actual.height != region.height) {
        return ::testing::AssertionFailure() << actual.width << " x " << actual.height << ", not "
                                             << region.width << " x " << region.height;
    }
    double total = 0;
    for (int y = 0; y < actual.height; ++y) {
        for (int x = 0; x < actual.width; ++x) {
            const int sx = region.x + (mirror ? region.width - 1 - x : x);
            const int sy = region.y + (flip ? region.height - 1 - y : y);
            for (int c = 0; c < 3; ++c) {
                total += std::abs(actual.At(x, y)[c] - scene.At(sx, sy)[c]);
            }
        }
    }
    const double mean = total / (3.0 * actual.width * actual.height);
    if (mean > 1.5) {
        return ::testing::AssertionFailure() << "mean error " << mean;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult WindowStreamTest::CapturesSame(const imaging::RgbImage& expected) {
    const std::vector<imaging::RgbImage> pictures = Capture();
    if (pictures.size() != 1) {
        return ::testing::AssertionFailure() << pictures.size() << " pictures";
    }
    return Same(pictures[0], expected);
}

::testing::AssertionResult WindowStreamTest::CapturesLike(const imaging::RgbImage& scene,
                                                          model_test::Region region, bool mirror,
                                                          bool flip) {
    const std::vector<imaging::RgbImage> pictures = Capture();
    if (pictures.size() != 1) {
        return ::testing::AssertionFailure() << pictures.size() << " pictures";
    }
    return LooksLike(pictures[0], scene, region, mirror, flip);
}

constexpr Filter kCropFilter = {1, true};
constexpr Filter kPloverFilter = {2, false};

TEST_F(WindowStreamTest, HeronDeliversItsWindowAndBinnedFramesAsTheSensorFlipsThem) {
    const imaging::RgbImage& scene = DetailedScene(Model::Heron);
    Open("heron", scene);
    ASSERT_EQ(Region(200, 120, 640, 480), STATUS_SUCCESS);
    EXPECT_EQ(session_->videoInfo().bmiHeader.biWidth, 0) << "no pin, no connection format";
    for (LONG flipH : {0, 1}) {
        for (LONG flipV : {0, 1}) {
            ASSERT_EQ(Set(CAMPROP_FLIP_H, flipH), STATUS_SUCCESS);
            ASSERT_EQ(Set(CAMPROP_FLIP_V, flipV), STATUS_SUCCESS);
            EXPECT_TRUE(CapturesSame(Delivered(
                IdealRead(scene, kCropFilter, {200, 120, 640, 480}, 1, flipH, flipV), 640)))
                << "FlipH " << flipH << " FlipV " << flipV;
        }
    }

    ASSERT_EQ(Region(0, 0, 0, 0, 1), STATUS_SUCCESS);
    EXPECT_TRUE(CapturesSame(
        Delivered(IdealRead(scene, kCropFilter, {0, 0, 2448, 2048}, 2, true, true), 1224)));

    const imaging::RgbImage smooth = imaging::Gradient(2448, 2048);
    session_->camera().SetScene(smooth);
    ASSERT_EQ(Set(CAMPROP_COLOR_CORRECTION, 0), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_FLIP_V, 0), STATUS_SUCCESS);
    ASSERT_EQ(Region(1000, 600, 400, 300), STATUS_SUCCESS);
    EXPECT_TRUE(CapturesLike(smooth, {1000, 600, 400, 300}, true, false));
}

TEST_F(WindowStreamTest, EgretDeliversItsWindowAndBinnedFramesAsTheSensorFlipsThem) {
    const imaging::RgbImage& scene = DetailedScene(Model::Egret);
    Open("egret", scene);
    ASSERT_EQ(Set(CAMPROP_FLIP_H, 1), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_FLIP_V, 1), STATUS_SUCCESS);
    ASSERT_EQ(Region(1700, 1300, 500, 400), STATUS_SUCCESS); // cut to 348 x 236
    EXPECT_TRUE(CapturesSame(
        Delivered(IdealRead(scene, kCropFilter, {1700, 1300, 348, 236}, 1, true, true), 344)));

    ASSERT_EQ(Set(CAMPROP_FLIP_V, 0), STATUS_SUCCESS);
    ASSERT_EQ(Region(0, 0, 0, 0, 1), STATUS_SUCCESS);
    EXPECT_TRUE(CapturesSame(
        Delivered(IdealRead(scene, kCropFilter, {0, 0, 2048, 1536}, 2, true, false), 1024)));

    const imaging::RgbImage smooth = imaging::Gradient(2048, 1536);
    session_->camera().SetScene(smooth);
    ASSERT_EQ(Set(CAMPROP_COLOR_CORRECTION, 0), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_FLIP_H, 0), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_FLIP_V, 1), STATUS_SUCCESS);
    ASSERT_EQ(Region(64, 32, 512, 384), STATUS_SUCCESS);
    EXPECT_TRUE(CapturesLike(smooth, {64, 32, 512, 384}, false, true));
}

TEST_F(WindowStreamTest, PloverDeliversItsWindowFlippedByThePinAndNumbersItsFrames) {
    const imaging::RgbImage& scene = DetailedScene(Model::Plover);
    Open("plover", scene);
    ASSERT_EQ(Region(101, 53, 403, 301), STATUS_SUCCESS);
    const IdealReadout ideal = IdealRead(scene, kPloverFilter, {101, 53, 403, 301});
    for (LONG flips : {0, 1, 2, 3}) {
        const bool flipH = flips & 1;
        const bool flipV = flips & 2;
        ASSERT_EQ(Set(CAMPROP_FLIP_H, flipH), STATUS_SUCCESS);
        ASSERT_EQ(Set(CAMPROP_FLIP_V, flipV), STATUS_SUCCESS);
        frameInfo_.clear();
        const std::vector<imaging::RgbImage> pictures = Capture(3);
        ASSERT_EQ(pictures.size(), 3u);
        // The leftmost 400 columns of the 403, mirrored as a whole.
        EXPECT_TRUE(Same(pictures[0], Delivered(ideal, 400, flipH, flipV)))
            << "FlipH " << flipH << " FlipV " << flipV;
        // Each picture once, numbered from the stream's start.
        ASSERT_EQ(frameInfo_.size(), 3u);
        for (size_t i = 0; i < frameInfo_.size(); ++i) {
            EXPECT_EQ(frameInfo_[i].ExtendedHeaderSize, sizeof(KS_FRAME_INFO));
            EXPECT_EQ(frameInfo_[i].PictureNumber - frameInfo_[i].DropCount,
                      static_cast<LONGLONG>(i + 1));
            if (i > 0) {
                EXPECT_GT(frameInfo_[i].PictureNumber, frameInfo_[i - 1].PictureNumber);
            }
        }
    }

    const imaging::RgbImage smooth = imaging::Gradient(1328, 1048);
    session_->camera().SetScene(smooth);
    ASSERT_EQ(Set(CAMPROP_COLOR_CORRECTION, 0), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_FLIP_V, 0), STATUS_SUCCESS);
    ASSERT_EQ(Region(300, 200, 640, 480), STATUS_SUCCESS);
    EXPECT_TRUE(CapturesLike(smooth, {300, 200, 640, 480}, true, false));
}

} // namespace
} // namespace model_test
