// Several cameras on one PC at once: two Terns sharing their driver image, each with its own
// region, and a Heron. Each camera offers its own format and delivers exactly its own
// pictures, and what one camera's clients do never shows in another camera's offer.
#include <gtest/gtest.h>

#include <thread>

#include "sim/imaging/scenes.h"
#include "sim/wdk/registry.h"
#include "tests/support/stream_fixture.h"
#include "sim/host/camera_properties.h"

namespace zyn::e2e {
namespace {

constexpr ULONG kReadTimeoutMs = 40;

class MultiCameraTest : public sim::testing::VerifiedTest {
protected:
    void SetUp() override {
        VerifiedTest::SetUp();
        sim::registry::Clear();
    }
    void TearDown() override {
        cameras_.clear();
        sim::registry::Clear();
        VerifiedTest::TearDown();
    }

    // Plugs in a camera of `model` with its own driver key; a Tern after the first shares the
    // first one's driver image.
    CaptureSession& Plug(const std::string& model, const imaging::RgbImage& scene) {
        SessionOptions options;
        options.model = model;
        options.frameInterval = std::chrono::nanoseconds{0};
        options.scene = std::make_shared<const imaging::RgbImage>(scene);
        options.clientFrames = 2;
        options.driverKey =
            std::string(capture::kSessionDriverKey) + "-" + std::to_string(cameras_.size());
        for (auto& camera : cameras_) {
            if (camera->system().camera().model() == host::FindDriverModel(model)->camera) {
                options.driver = camera->system().driver();
                break;
            }
        }
        std::string error;
        cameras_.push_back(CaptureSession::Open(options, &error));
        EXPECT_NE(cameras_.back(), nullptr) << error;
        cameras_.back()->device().Globals().SetTimeout(kReadTimeoutMs);
        return *cameras_.back();
    }

    static void Region(CaptureSession& camera, LONG x, LONG y, LONG w, LONG h) {
        ASSERT_EQ(host::SetRegion(camera.filter(), x, y, w, h).status, STATUS_SUCCESS);
    }
    static LONG OfferedWidth(CaptureSession& camera) {
        KS_DATARANGE_VIDEO range{};
        EXPECT_EQ(camera.filter().VideoRange(0, &range), STATUS_SUCCESS);
        return range.VideoInfoHeader.bmiHeader.biWidth;
    }
    static void Run(CaptureSession& camera) {
        ASSERT_EQ(camera.CreatePin(), STATUS_SUCCESS);
        ASSERT_EQ(camera.SetState(KSSTATE_RUN), STATUS_SUCCESS);
    }

    std::vector<std::unique_ptr<CaptureSession>> cameras_;
};

TEST_F(MultiCameraTest, TwoTernsAndAHeronStreamTogetherEachWithItsOwnPictures) {
    CaptureSession& first = Plug("tern", imaging::ColorBars(1360, 1024));
    CaptureSession& second = Plug("tern", imaging::Gradient(1360, 1024));
    CaptureSession& heron = Plug("heron", imaging::Gradient(2448, 2048));
    ASSERT_EQ(first.system().driver(), second.system().driver());
    Region(first, 16, 16, 320, 200);
    Region(second, 100, 50, 640, 480);
    Region(heron, 0, 0, 256, 128);
    EXPECT_EQ(OfferedWidth(first), 320);
    EXPECT_EQ(OfferedWidth(second), 640);
    EXPECT_EQ(OfferedWidth(heron), 256);

    for (CaptureSession* camera : {&first, &second, &heron}) {
        Run(*camera);
    }
    for (CaptureSession* camera : {&first, &second, &heron}) {
        SCOPED_TRACE(camera->device().Settings().OutputWidth);
        EXPECT_EQ(camera->videoInfo().bmiHeader.biWidth, camera->device().Settings().OutputWidth);
        // Two pictures each, while the other cameras go on streaming.
        for (int i = 0; i < 2; ++i) {
            std::unique_ptr<sim::host::Frame> frame = camera->NextFrame(std::chrono::seconds(20));
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(frame->header().DataUsed, camera->imageBytes());
            EXPECT_TRUE(SamePicture(*frame, ExpectedClientFrame(*camera, false, false)));
            ASSERT_EQ(camera->Requeue(std::move(frame)), STATUS_PENDING);
        }
    }
}

// One thread intersects formats on a streaming camera while another changes the region of a
// second camera of the same image: the first camera's offer and pictures never change.
TEST_F(MultiCameraTest, ARegionChangeOnOneCameraLeavesAnotherStreamingCameraAlone) {
    CaptureSession& streaming = Plug("tern", imaging::ColorBars(1360, 1024));
    CaptureSession& other = Plug("tern", imaging::Gradient(1360, 1024));
    Region(streaming, 0, 0, 320, 240);
    Run(streaming);
    const std::vector<uint8_t> offered = streaming.format();

    constexpr int kRounds = 40;
    std::thread intersecting([&] {
        for (int i = 0; i < kRounds; ++i) {
            KS_DATARANGE_VIDEO range{};
            ASSERT_EQ(streaming.filter().VideoRange(0, &range), STATUS_SUCCESS);
            NTSTATUS status;
            EXPECT_EQ(streaming.filter().IntersectFormat(0, range.DataRange, &status), offered);
            EXPECT_EQ(status, STATUS_SUCCESS);
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        const LONG width = 64 + 8 * i;
        Region(other, 0, 0, width, 100 + i);
        KS_DATARANGE_VIDEO range{};
        ASSERT_EQ(other.filter().VideoRange(0, &range), STATUS_SUCCESS);
        NTSTATUS status;
        const std::vector<uint8_t> format =
            other.filter().IntersectFormat(0, range.DataRange, &status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        const auto* info =
            reinterpret_cast<const KS_VIDEOINFOHEADER*>(format.data() + sizeof(KSDATAFORMAT));
        EXPECT_EQ(info->bmiHeader.biWidth, width);
        EXPECT_EQ(info->bmiHeader.biHeight, 100 + i);
    }
    intersecting.join();

    EXPECT_EQ(OfferedWidth(streaming), 320);
    std::unique_ptr<sim::host::Frame> frame = streaming.NextFrame(std::chrono::seconds(20));
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(SamePicture(*frame, ExpectedClientFrame(streaming, false, false)));
    ASSERT_EQ(streaming.Requeue(std::move(frame)), STATUS_PENDING);
}

} // namespace
} // namespace zyn::e2e
