// Streaming when things go wrong: the cable pulled, a stalled data pipe, a second application
// that wants the camera too.
#include <chrono>
#include <thread>

#include "oculix_zyn_properties.h"
#include "sim/camera/usb_descriptors.h"
#include "sim/wdk/threads.h"
#include "tests/e2e/stream_fixture.h"
#include "tools/common/camera_properties.h"

namespace zyn::e2e {
namespace {

using std::chrono::milliseconds;

void TakeAndRequeue(CaptureSession& session, int frames) {
    for (int i = 0; i < frames; ++i) {
        std::unique_ptr<sim::host::Frame> frame = session.NextFrame(std::chrono::seconds(20));
        ASSERT_NE(frame, nullptr) << "frame " << i;
        EXPECT_EQ(frame->status(), STATUS_SUCCESS);
        ASSERT_EQ(session.Requeue(std::move(frame)), STATUS_PENDING);
    }
}

TEST_F(StreamTest, UnpluggingWhileStreamingEndsTheStreamAtOnce) {
    Open();
    Run();
    TakeAndRequeue(Session(), 2);
    const ULONG framesRead = Session().Counters().framesRead;
    Session().system().Unplug();
    // The surprise removal has ended the acquisition thread before it returns.
    EXPECT_EQ(sim::RunningSystemThreads(), 0);

    // Every queued client frame comes back: a picture read before the cable was pulled, or
    // empty.
    while (Session().pin().QueuedFrames() > 0) {
        std::unique_ptr<sim::host::Frame> frame = Next(std::chrono::seconds(20));
        ASSERT_NE(frame, nullptr) << Session().pin().QueuedFrames() << " frame(s) kept";
        EXPECT_EQ(frame->status(), STATUS_SUCCESS);
    }
    EXPECT_LE(Session().Counters().framesRead, framesRead + 1) << "a frame read after the unplug";

    ASSERT_EQ(Session().SetState(KSSTATE_STOP), STATUS_SUCCESS);
    // Closing the pin and the filter, the stop and the removal leave nothing behind (the
    // fixture checks pool, handles and threads).
    Session().Close();
}

TEST_F(StreamTest, StalledDataPipeIsResetAndFramesFlowAgain) {
    Open();
    Run();
    TakeAndRequeue(Session(), 1);
    Session().system().bus().StallEndpoint(sim::camera::kDataEndpoint);
    // Frames read before the stall may still come (two raw slots and a converted frame); the
    // stall shows as a pipe reset once the thread meets it.
    for (int i = 0; i < 10 && Session().system().bus().Counters().pipeResets == 0; ++i) {
        TakeAndRequeue(Session(), 1);
    }
    EXPECT_GE(Session().system().bus().Counters().pipeResets, 1u);
    std::unique_ptr<sim::host::Frame> frame = FrameAfterChange();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->header().DataUsed, 1360u * 1024 * 4);
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
    ASSERT_TRUE(tools::GetValue(*other, CAMPROP_REGION_LOCKED, &locked).ok());
    EXPECT_EQ(locked, 1);
    ASSERT_EQ(Region(0, 0, 640, 480), STATUS_SUCCESS);
    EXPECT_EQ(Settings().RoiW, 1360) << "the region changed under a streaming pin";
    TakeAndRequeue(Session(), 1);

    // Once the first pin is closed the camera is free for the other application.
    Session().ClosePin();
    ASSERT_TRUE(tools::GetValue(*other, CAMPROP_REGION_LOCKED, &locked).ok());
    EXPECT_EQ(locked, 0);
    second = other->CreatePin(0, Session().format(), {}, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(second->SetState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    EXPECT_EQ(second->SetState(KSSTATE_STOP), STATUS_SUCCESS);
}

} // namespace
} // namespace zyn::e2e
