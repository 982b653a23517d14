// The road of a frame from the emulated camera through the driver to the client: pictures,
// region and orientation, the trigger, pause and resume, settings changed while streaming, a
// second application that wants the camera too. Bus faults while streaming are in tests/pnp.
#include <atomic>
#include <cstring>
#include <thread>

#include "driver/core/acquisition.h"
#include "oculix_zyn_properties.h"
#include "sim/camera/usb_descriptors.h"
#include "sim/imaging/scenes.h"
#include "sim/wdk/pool.h"
#include "sim/wdk/threads.h"
#include "tests/support/stream_fixture.h"
#include "sim/host/camera_properties.h"

namespace zyn::e2e {
namespace {

using std::chrono::milliseconds;

// A wait that ends early when the frame comes; a frame that should not come is waited for
// this long (several read timeouts).
constexpr milliseconds kNoFrameWait{300};

void TakeAndRequeue(CaptureSession& session, int frames) {
    for (int i = 0; i < frames; ++i) {
        std::unique_ptr<sim::host::Frame> frame = session.NextFrame(std::chrono::seconds(20));
        ASSERT_NE(frame, nullptr) << "frame " << i;
        EXPECT_EQ(frame->status(), STATUS_SUCCESS);
        ASSERT_EQ(session.Requeue(std::move(frame)), STATUS_PENDING);
    }
}

std::shared_ptr<const imaging::RgbImage> Gradient() {
    return std::make_shared<imaging::RgbImage>(imaging::Gradient(1360, 1024));
}

// 1004 wide: rows of 1000 pixels from an RGB frame whose rows are 1004 pixels apart, copied
// into the client frame. 1000 wide: the client takes whole rows, which unmirrored are
// converted straight into its frame; mirrored they are copied.
class RegionWidthTest : public StreamTest, public ::testing::WithParamInterface<LONG> {};

TEST_P(RegionWidthTest, DeliversTheConversionOfTheRegionInEveryOrientation) {
    Open(Gradient());
    ASSERT_EQ(Region(40, 24, GetParam(), 900), STATUS_SUCCESS);
    ASSERT_EQ(Settings().OutputWidth, 1000);
    Run();
    EXPECT_EQ(Session().imageBytes(), 1000u * 900 * 4);

    struct Orientation {
        LONG flipH;
        LONG flipV;
    };
    for (const Orientation o :
         {Orientation{0, 0}, Orientation{1, 0}, Orientation{0, 1}, Orientation{1, 1}}) {
        SCOPED_TRACE(::testing::Message() << "FlipH " << o.flipH << " FlipV " << o.flipV);
        ASSERT_EQ(Set(CAMPROP_FLIP_H, o.flipH), STATUS_SUCCESS);
        ASSERT_EQ(Set(CAMPROP_FLIP_V, o.flipV), STATUS_SUCCESS);
        std::unique_ptr<sim::host::Frame> frame = FrameAfterChange();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->header().DataUsed, 1000u * 900 * 4);
        EXPECT_TRUE(SamePicture(*frame, ExpectedFrame(o.flipH != 0, o.flipV != 0)));
        ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
    }
}

INSTANTIATE_TEST_SUITE_P(StreamTest, RegionWidthTest, ::testing::Values(1004, 1000));

TEST_F(StreamTest, FramesCarryTheClockTimeAndTheFrameDuration) {
    Open();
    Run();
    std::unique_ptr<sim::host::Frame> first = Next();
    ASSERT_NE(first, nullptr);
    const LONGLONG firstTime = first->header().PresentationTime.Time;
    ASSERT_EQ(Session().Requeue(std::move(first)), STATUS_PENDING);
    std::unique_ptr<sim::host::Frame> second = Next();
    ASSERT_NE(second, nullptr);
    const KSSTREAM_HEADER& header = second->header();
    EXPECT_EQ(header.OptionsFlags,
              KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID);
    EXPECT_EQ(header.PresentationTime.Numerator, 1u);
    EXPECT_EQ(header.PresentationTime.Denominator, 1u);
    EXPECT_GT(header.PresentationTime.Time, firstTime);
    EXPECT_EQ(header.Duration, 333333);
    ASSERT_EQ(Session().Requeue(std::move(second)), STATUS_PENDING);
}

TEST_F(StreamTest, WithoutAGraphClockFramesCarryNoTime) {
    SessionOptions options;
    options.referenceClock = false;
    Open(nullptr, options);
    Run();
    std::unique_ptr<sim::host::Frame> frame = Next();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->header().PresentationTime.Time, 0);
    EXPECT_EQ(frame->header().OptionsFlags, 0u);
    EXPECT_EQ(frame->header().DataUsed, 1360u * 1024 * 4);
    ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
}

TEST_F(StreamTest, TriggeredCameraDeliversOneFramePerTrigger) {
    Open();
    ASSERT_EQ(Set(CAMPROP_EXTRIGGER, 1), STATUS_SUCCESS);
    Run();
    // No trigger: every read runs into its timeout, and the queued client frames (which start
    // processing as they arrive) stay untouched.
    EXPECT_EQ(Next(kNoFrameWait), nullptr);
    EXPECT_GT(Session().Counters().readTimeouts, 0u);
    EXPECT_EQ(Session().Counters().framesRead, 0u);

    // A pulse is fired while a read waits, early in a wait long enough for the frame to
    // arrive whatever the machine's speed: a read that gives up in the middle of a frame
    // loses it, as with a real camera.
    ASSERT_EQ(Session().SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    Session().device().Globals().SetTimeout(5000);
    ASSERT_EQ(Session().SetState(KSSTATE_RUN), STATUS_SUCCESS);
    auto fireWhileReading = [&] {
        ASSERT_TRUE(Session().system().bus().WaitForPendingTransfers(sim::camera::kDataEndpoint, 22,
                                                                     std::chrono::seconds(20)));
        ASSERT_TRUE(Session().camera().FireTrigger());
    };
    fireWhileReading();
    std::unique_ptr<sim::host::Frame> frame = Next();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(SamePicture(*frame, ExpectedFrame(false, false)));
    // Handed back at once, the client frame waits for the next trigger.
    ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
    EXPECT_EQ(Next(kNoFrameWait), nullptr);
    EXPECT_EQ(Session().Counters().framesRead, 1u);
    EXPECT_EQ(Session().Counters().framesDelivered, 1u);

    fireWhileReading();
    frame = Next();
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
    EXPECT_EQ(Session().Counters().framesDelivered, 2u);
    // The stop does not wait for the read's timeout.
    Session().ClosePin();
}

TEST_F(StreamTest, PauseKeepsTheBuffersAndTheClientFramesAndResumeStreamsOn) {
    Open();
    Run();
    std::unique_ptr<sim::host::Frame> frame = Next();
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);

    ASSERT_EQ(Session().SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    Acquisition* acquisition = Session().capturePin().GetAcquisition();
    EXPECT_EQ(acquisition->CurrentState(), Acquisition::kPaused);
    EXPECT_FALSE(acquisition->ThreadRunning());
    const auto allocations = sim::pool::Counters(kTagFrame).allocations;
    // A Process call that began while the pin still ran may complete one more frame; those
    // are the client's, the rest stay queued.
    Session().pin().ksPin().WaitProcessingIdle();
    while ((frame = Session().pin().TakeFrame()) != nullptr) {
        ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
    }
    EXPECT_EQ(Next(kNoFrameWait), nullptr);
    EXPECT_EQ(Session().pin().QueuedFrames(), 4u);

    ASSERT_EQ(Session().SetState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_TRUE(acquisition->ThreadRunning());
    frame = Next();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(sim::pool::Counters(kTagFrame).allocations, allocations)
        << "resuming allocated frame buffers again";
    EXPECT_TRUE(SamePicture(*frame, ExpectedFrame(false, false)));
    ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
}

TEST_F(StreamTest, StopsAndRestartsCleanlyWhileFramesFlow) {
    Open();
    ASSERT_EQ(Session().CreatePin(), STATUS_SUCCESS);
    for (int round = 0; round < 4; ++round) {
        ASSERT_EQ(Session().SetState(KSSTATE_RUN), STATUS_SUCCESS);
        std::unique_ptr<sim::host::Frame> frame = Next();
        ASSERT_NE(frame, nullptr);
        ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
        // Process runs for the frames that keep coming while the pin goes down.
        ASSERT_EQ(Session().SetState(round % 2 == 0 ? KSSTATE_STOP : KSSTATE_ACQUIRE),
                  STATUS_SUCCESS);
        EXPECT_EQ(sim::RunningSystemThreads(), 0);
        EXPECT_EQ(Session().capturePin().GetAcquisition()->CurrentState(), Acquisition::kIdle);
    }
}

TEST_F(StreamTest, SettingsChangedFromAnotherThreadWhileStreaming) {
    Open(Gradient());
    Run();
    std::atomic<bool> stop{false};
    std::thread changer([&] {
        // Its own filter handle, as another application (a property page) would have.
        std::unique_ptr<sim::host::Filter> filter = Session().system().OpenFilter();
        ASSERT_NE(filter, nullptr);
        for (LONG i = 0; !stop; ++i) {
            EXPECT_EQ(host::SetValue(*filter, CAMPROP_BRIGHTNESS, 200 + i % 100).status,
                      STATUS_SUCCESS);
            EXPECT_EQ(host::SetValue(*filter, CAMPROP_HUE, i % 360).status, STATUS_SUCCESS);
            EXPECT_EQ(host::SetValue(*filter, CAMPROP_RED_GAIN, 100 + i % 50).status,
                      STATUS_SUCCESS);
            EXPECT_EQ(host::SetValue(*filter, CAMPROP_FLIP_H, i % 2).status, STATUS_SUCCESS);
            EXPECT_EQ(host::SetValue(*filter, CAMPROP_EXPOSURE, 64 + i % 100).status,
                      STATUS_SUCCESS);
        }
    });
    for (int i = 0; i < 6; ++i) {
        std::unique_ptr<sim::host::Frame> frame = Next();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->header().DataUsed, 1360u * 1024 * 4);
        ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
    }
    stop = true;
    changer.join();

    // Once the changes end, the pictures follow the last settings.
    ASSERT_EQ(Set(CAMPROP_BRIGHTNESS, 300), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_HUE, 45), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_RED_GAIN, 160), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_FLIP_H, 0), STATUS_SUCCESS);
    std::unique_ptr<sim::host::Frame> frame = FrameAfterChange();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(SamePicture(*frame, ExpectedFrame(false, false)));
    ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
}

TEST_F(StreamTest, SecondPinIsRefusedWhileTheFirstHoldsTheCamera) {
    Open();
    Run();
    std::unique_ptr<sim::host::Filter> other = Session().system().OpenFilter();
    ASSERT_NE(other, nullptr);
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    std::unique_ptr<sim::host::Pin> second = other->CreatePin(0, Session().format(), {}, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(second->SetState(KSSTATE_ACQUIRE), STATUS_SHARING_VIOLATION);
    EXPECT_EQ(second->State(), KSSTATE_STOP);
    TakeAndRequeue(Session(), 2);

    // The region stays locked while the first pin exists, also once the second is gone.
    second.reset();
    LONG locked = 0;
    ASSERT_TRUE(host::GetValue(*other, CAMPROP_REGION_LOCKED, &locked).ok());
    EXPECT_EQ(locked, 1);
    ASSERT_EQ(Region(0, 0, 640, 480), STATUS_SUCCESS);
    EXPECT_EQ(Settings().RoiW, 1360) << "the region changed under a streaming pin";
    TakeAndRequeue(Session(), 1);

    // Once the first pin is closed the camera is free for the other application.
    Session().ClosePin();
    ASSERT_TRUE(host::GetValue(*other, CAMPROP_REGION_LOCKED, &locked).ok());
    EXPECT_EQ(locked, 0);
    second = other->CreatePin(0, Session().format(), {}, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(second->SetState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    EXPECT_EQ(second->SetState(KSSTATE_STOP), STATUS_SUCCESS);
}

} // namespace
} // namespace zyn::e2e
