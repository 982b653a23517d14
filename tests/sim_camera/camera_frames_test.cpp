// Frame transfer of the camera emulator: byte counts and padding per model, the read
// sequence and its unexpected variants, trigger and pacing.
#include <gtest/gtest.h>

#include <atomic>

#include "camera_wire.h"
#include "sim/camera/frame_render.h"
#include "sim/camera/usb_descriptors.h"
#include "sim/imaging/scenes.h"

namespace camera_test {
namespace {

using namespace sim::camera;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

CameraOptions ManualPaced() {
    CameraOptions options;
    options.manualTime = true;
    return options;
}

bool AllZero(const std::vector<uint8_t>& bytes, size_t from) {
    return std::all_of(bytes.begin() + static_cast<long>(from), bytes.end(),
                       [](uint8_t b) { return b == 0; });
}

TEST(FrameBytes, TernSendsTheFullSensorIn22Requests) {
    Camera camera(Model::Tern, Unpaced());
    const uint32_t bytes = StartTern(camera);
    const FrameRead frame = ReadFrame(camera, bytes);
    ASSERT_EQ(frame.bytes.size(), 1'392'640u);
    EXPECT_EQ(frame.requests, 22);
    EXPECT_FALSE(frame.endedShort); // a whole number of packets
    EXPECT_EQ(frame.bytes, camera.ExpectedFrame());
    EXPECT_EQ(camera.Status().framesSent, 1u);
}

TEST(FrameBytes, PloverFullWindowIsPaddedToItsRoundedCount) {
    Camera camera(Model::Plover, Unpaced());
    const uint32_t bytes = StartPlover(camera, {0, 0, 1328, 1048});
    ASSERT_EQ(bytes, 1'392'640u);
    const FrameRead frame = ReadFrame(camera, bytes);
    ASSERT_EQ(frame.bytes.size(), bytes);
    EXPECT_EQ(frame.requests, 22);
    EXPECT_TRUE(AllZero(frame.bytes, 1328 * 1048));
    EXPECT_FALSE(AllZero(frame.bytes, 1328 * 1047));
    EXPECT_EQ(frame.bytes, camera.ExpectedFrame());
}

TEST(FrameBytes, HeronAndEgretFullWindowsAndBinnedFrames) {
    {
        Camera heron(Model::Heron, Unpaced());
        const uint32_t bytes = StartCropWindow(heron, {0, 0, 2448, 2048});
        const FrameRead frame = ReadFrame(heron, bytes);
        EXPECT_EQ(frame.bytes.size(), 5'013'504u);
        EXPECT_EQ(frame.requests, 77);
    }
    {
        Camera egret(Model::Egret, Unpaced());
        const uint32_t bytes = StartCropWindow(egret, {0, 0, 2048, 1536});
        const FrameRead frame = ReadFrame(egret, bytes);
        EXPECT_EQ(frame.bytes.size(), 3'145'728u);
        EXPECT_EQ(frame.requests, 48);
    }
    {
        // Binned: 1224 samples and 8 zero bytes a line.
        Camera heron(Model::Heron, Unpaced());
        const uint32_t bytes = StartCrop2x(heron);
        EXPECT_EQ(bytes, 1232u * 1024);
        const FrameRead frame = ReadFrame(heron, bytes);
        ASSERT_EQ(frame.bytes.size(), bytes);
        for (int line : {0, 511, 1023}) {
            const auto at = frame.bytes.begin() + line * 1232;
            EXPECT_TRUE(std::all_of(at + 1224, at + 1232, [](uint8_t b) { return b == 0; }));
        }
        EXPECT_EQ(frame.bytes, heron.ExpectedFrame());
    }
}

TEST(FrameBytes, OddByteCountsEndWithAShortPacketAndCutThePicture) {
    Camera camera(Model::Tern, Unpaced());
    StartTern(camera);
    // The host may program any count: a picture longer than it is cut, a shorter one padded.
    WriteFrameBytes(camera, 1000);
    FrameRead frame = ReadFrame(camera, 65536);
    EXPECT_EQ(frame.bytes.size(), 1000u);
    EXPECT_TRUE(frame.endedShort);
    const std::vector<uint8_t> full = RenderRawFrame(*camera.Scene(), camera.Geometry());
    EXPECT_TRUE(std::equal(frame.bytes.begin(), frame.bytes.end(), full.begin()));

    WriteFrameBytes(camera, 1360 * 1024 + 4096);
    frame = ReadFrame(camera, 1360 * 1024 + 4096);
    ASSERT_EQ(frame.bytes.size(), 1360u * 1024 + 4096);
    EXPECT_TRUE(AllZero(frame.bytes, 1360 * 1024));
}

TEST(FrameSequence, OneFramePerRequestAndNothingWithoutOne) {
    Camera camera(Model::Tern, Unpaced());
    const uint32_t bytes = StartTern(camera);
    uint8_t probe[512];
    // Reads queued without a frame request: nothing.
    Send(camera, {CMD_READS_QUEUED});
    EXPECT_EQ(camera.In(kDataEndpoint, probe, sizeof(probe)).bytes, 0u);
    // A request alone: nothing until the reads are queued.
    Send(camera, {CMD_FRAME_REQUEST});
    EXPECT_EQ(camera.In(kDataEndpoint, probe, sizeof(probe)).bytes, 0u);
    Send(camera, {CMD_READS_QUEUED});
    EXPECT_EQ(ReadData(camera, bytes).bytes.size(), bytes);
    // Exactly one frame: a further read finds nothing, nor does a repeated reads-queued.
    Send(camera, {CMD_READS_QUEUED});
    EXPECT_EQ(camera.In(kDataEndpoint, probe, sizeof(probe)).bytes, 0u);
    EXPECT_EQ(camera.Status().framesSent, 1u);
}

TEST(FrameSequence, ANewRequestDiscardsTheRestOfAFrameInTransit) {
    Camera camera(Model::Tern, Unpaced());
    const uint32_t bytes = StartTern(camera);
    camera.SetScene(imaging::Gradient(1360, 1024));
    RequestFrame(camera);
    ASSERT_EQ(ReadData(camera, 5 * 65536).bytes.size(), 5u * 65536);
    EXPECT_EQ(camera.Status().bytesInTransit, bytes - 5u * 65536);
    // The host gave up on that frame; the next one starts from its first byte.
    const FrameRead frame = ReadFrame(camera, bytes);
    EXPECT_EQ(frame.bytes, camera.ExpectedFrame());
    EXPECT_EQ(camera.Status().bytesInTransit, 0u);
}

// A still scene is rendered once and its frames share the picture: a frame already on its
// way keeps what it started with when the scene changes, and the next frame shows the change.
TEST(FrameSequence, AFrameInTransitKeepsItsPictureWhenTheSceneChanges) {
    Camera camera(Model::Tern, Unpaced());
    const uint32_t bytes = StartTern(camera);
    camera.SetScene(imaging::Gradient(1360, 1024));
    const std::vector<uint8_t> gradient = camera.ExpectedFrame();
    EXPECT_EQ(ReadFrame(camera, bytes).bytes, gradient);
    RequestFrame(camera);
    FrameRead first = ReadData(camera, 5 * 65536);
    camera.SetScene(imaging::ColorBars(1360, 1024));
    const FrameRead rest = ReadData(camera, bytes - 5 * 65536);
    first.bytes.insert(first.bytes.end(), rest.bytes.begin(), rest.bytes.end());
    EXPECT_EQ(first.bytes, gradient);
    const FrameRead bars = ReadFrame(camera, bytes);
    EXPECT_EQ(bars.bytes, camera.ExpectedFrame());
    EXPECT_NE(bars.bytes, gradient);
}

TEST(FrameSequence, ZeroByteCountServesTheRequestWithNothing) {
    Camera camera(Model::Tern, Unpaced());
    StartTern(camera);
    WriteFrameBytes(camera, 0);
    RequestFrame(camera);
    const CameraStatus status = camera.Status();
    EXPECT_FALSE(status.requestPending);
    EXPECT_EQ(status.framesSent, 0u);
    EXPECT_EQ(status.bytesInTransit, 0u);
}

TEST(FrameSequence, RequestWaitsUntilTheCameraStreams) {
    Camera camera(Model::Heron, Unpaced());
    std::atomic<int> ready{0};
    camera.SetDataReadyCallback([&] {
        // Called without the camera's lock held: it may call back in.
        camera.Status();
        ++ready;
    });
    WriteFrameBytes(camera, 4096);
    RequestFrame(camera);
    EXPECT_TRUE(camera.Status().requestPending);
    Send(camera, {CMD_START_CONTROL, 1});
    Send(camera, {CMD_SENSOR_CONTROL, 0x20, 1});
    EXPECT_EQ(ready, 0); // in standby
    Send(camera, {CMD_SENSOR_CONTROL, 0x60, 1});
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(ReadData(camera, 4096).bytes.size(), 4096u);
}

TEST(FrameSequence, EndpointResetsDropPendingState) {
    Camera camera(Model::Tern, Unpaced());
    StartTern(camera);
    RequestFrame(camera);
    camera.ResetEndpoint(kDataEndpoint);
    EXPECT_EQ(camera.Status().bytesInTransit, 0u);
    Send(camera, {CMD_BOARD_READ, 0});
    camera.ResetEndpoint(kResponseEndpoint);
    EXPECT_EQ(camera.Status().answersQueued, 0u);
}

class TriggerModels : public ::testing::TestWithParam<Model> {};

INSTANTIATE_TEST_SUITE_P(Camera, TriggerModels, AllModels(), ModelName);

TEST_P(TriggerModels, FramesComeOnlyWithATrigger) {
    Camera camera(GetParam(), Unpaced());
    camera.PrepareStreaming(8192);
    WriteBoard(camera, 11, Info(GetParam()).triggerOn);
    EXPECT_TRUE(camera.Status().triggerMode);
    RequestFrame(camera);
    EXPECT_EQ(ReadData(camera, 8192).bytes.size(), 0u);
    EXPECT_TRUE(camera.FireTrigger());
    EXPECT_EQ(ReadData(camera, 8192).bytes.size(), 8192u);

    // A trigger between reads waits for the next request; two of them are still one frame.
    EXPECT_TRUE(camera.FireTrigger());
    EXPECT_TRUE(camera.FireTrigger());
    EXPECT_EQ(ReadFrame(camera, 8192).bytes.size(), 8192u);
    EXPECT_EQ(ReadFrame(camera, 8192).bytes.size(), 0u);

    // Leaving trigger mode forgets an unused trigger and frees the pending request.
    EXPECT_TRUE(camera.FireTrigger());
    WriteBoard(camera, 11, 0);
    EXPECT_FALSE(camera.Status().triggerTaken);
    EXPECT_EQ(ReadData(camera, 8192).bytes.size(), 8192u);
    EXPECT_FALSE(camera.FireTrigger());
    EXPECT_EQ(camera.Status().framesSent, 3u);
}

TEST(Trigger, AnotherModelsTriggerValueLeavesTheCameraFreeRunning) {
    Camera heron(Model::Heron, Unpaced());
    heron.PrepareStreaming(4096);
    for (uint8_t value : {1, 37}) {
        WriteBoard(heron, 11, value);
        EXPECT_FALSE(heron.Status().triggerMode);
        EXPECT_EQ(ReadFrame(heron, 4096).bytes.size(), 4096u);
    }
}

TEST(Pacing, FreeRunningFramesAreSpacedByTheFrameInterval) {
    Camera camera(Model::Plover, ManualPaced());
    camera.PrepareStreaming(2048);
    EXPECT_EQ(ReadFrame(camera, 2048).bytes.size(), 2048u); // the first at once
    RequestFrame(camera);
    EXPECT_TRUE(camera.Status().requestPending);
    camera.AdvanceTime(milliseconds(33));
    EXPECT_TRUE(camera.Status().requestPending);
    camera.AdvanceTime(milliseconds(1));
    EXPECT_EQ(ReadData(camera, 2048).bytes.size(), 2048u);
    // Idle longer than an interval: the next request is served at once.
    camera.AdvanceTime(milliseconds(100));
    EXPECT_EQ(ReadFrame(camera, 2048).bytes.size(), 2048u);
}

TEST(Pacing, TriggeredFramesAreNotPaced) {
    Camera camera(Model::Tern, ManualPaced());
    camera.PrepareStreaming(2048);
    WriteBoard(camera, 11, 1);
    for (int i = 0; i < 3; ++i) {
        RequestFrame(camera);
        camera.FireTrigger();
        EXPECT_EQ(ReadData(camera, 2048).bytes.size(), 2048u);
    }
}

} // namespace
} // namespace camera_test
