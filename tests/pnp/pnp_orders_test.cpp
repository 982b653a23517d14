// Plug and Play in the orders the platform allows, not only the polite one: the cable pulled
// under a running pin, a stop while a pin is open, queries that are cancelled, the camera
// plugged in again. Each leaves nothing allocated and no verifier report (the fixture checks).
#include <thread>

#include "sim/wdk/threads.h"
#include "tests/pnp/pnp_fixture.h"
#include "sim/host/camera_properties.h"

namespace zyn::pnp {
namespace {

TEST_P(PnpTest, PulledCableEndsTheStreamAndHandsBackTheQueuedFrames) {
    ASSERT_TRUE(Streaming());
    // A triggered camera with no trigger coming: the client frames stay queued.
    ASSERT_EQ(Set(CAMPROP_EXTRIGGER, 1), STATUS_SUCCESS);
    RequeueCompleted();
    ASSERT_TRUE(ReadPending());
    // Every client frame of the application is queued on the pin or completed and not taken.
    const size_t queued = e2e::SessionOptions{}.clientFrames;

    const milliseconds removal = Timed([&] { Session().system().Unplug(); });
    EXPECT_LT(removal, kStopBound);
    EXPECT_EQ(sim::RunningSystemThreads(), 0) << "the acquisition thread outlived the removal";
    size_t back = 0;
    size_t empty = 0;
    while (back < queued) {
        std::unique_ptr<sim::host::Frame> frame = Next(std::chrono::seconds(20));
        ASSERT_NE(frame, nullptr) << back << " of " << queued << " client frames came back";
        ++back;
        empty += frame->header().DataUsed == 0 ? 1 : 0;
    }
    EXPECT_EQ(Session().pin().QueuedFrames(), 0u);
    std::printf("[ %s ] %zu queued client frames came back after the removal (%zu empty)\n",
                GetParam(), back, empty);

    // The application closes its handles afterwards, then the device goes.
    StopAndClose();
}

TEST_P(PnpTest, StopWithThePinOpenEndsTheStreamBeforeTheCameraIsUnconfigured) {
    ASSERT_TRUE(Streaming());
    ASSERT_EQ(Session().system().device()->QueryStop(), STATUS_SUCCESS);
    const milliseconds stop = Timed([&] { Session().system().device()->StopWithHandlesOpen(); });
    EXPECT_LT(stop, kStopBound);
    EXPECT_EQ(sim::RunningSystemThreads(), 0);
    EXPECT_FALSE(Bus().Configured());

    // The application notices and closes its pin; the rebalanced device starts again and
    // streams to a new pin.
    EXPECT_EQ(Session().SetState(KSSTATE_STOP), STATUS_SUCCESS);
    Session().ClosePin();
    ASSERT_EQ(Session().system().Start(), STATUS_SUCCESS);
    ASSERT_EQ(Session().CreatePin(), STATUS_SUCCESS);
    ASSERT_EQ(Session().SetState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_TRUE(TakePicture());
}

TEST_P(PnpTest, PausedPinUnderAStoppedDeviceRefusesToRun) {
    ASSERT_TRUE(Streaming());
    ASSERT_EQ(Session().SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    ASSERT_EQ(Session().system().device()->QueryStop(), STATUS_SUCCESS);
    Session().system().device()->StopWithHandlesOpen();
    // Success with no frames ever would be a failure reported as success.
    EXPECT_NE(Session().SetState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(Session().SetState(KSSTATE_STOP), STATUS_SUCCESS);
}

TEST_P(PnpTest, CancelledQueriesLeaveTheStreamRunning) {
    ASSERT_TRUE(Streaming());
    sim::host::Device& device = *Session().system().device();
    ASSERT_EQ(device.QueryStop(), STATUS_SUCCESS);
    device.CancelStop();
    EXPECT_TRUE(TakePicture());
    ASSERT_EQ(device.QueryRemove(), STATUS_SUCCESS);
    device.CancelRemove();
    EXPECT_TRUE(TakePicture());
    EXPECT_TRUE(Bus().Configured());
}

TEST_P(PnpTest, CameraPluggedInAgainIsANewDeviceThatStreams) {
    ASSERT_TRUE(Streaming());
    ASSERT_EQ(Set(CAMPROP_GAIN, 20), STATUS_SUCCESS);
    LONG gain = 0;
    ASSERT_TRUE(host::GetValue(Session().filter(), CAMPROP_GAIN, &gain).ok());
    const void* before = Session().system().device()->context();

    ASSERT_EQ(Session().Replug(), STATUS_SUCCESS);
    Prepare();
    EXPECT_NE(Session().system().device()->context(), nullptr);
    (void)before; // the same address may come back from the pool; the test is the stream
    RunPin();
    EXPECT_TRUE(TakePicture());
    // The settings stored at the removal's stop are the new device's.
    LONG after = 0;
    ASSERT_TRUE(host::GetValue(Session().filter(), CAMPROP_GAIN, &after).ok());
    EXPECT_EQ(after, gain);
}

// A triggered camera whose read waits for ever (the longest Timeout a client can set): a
// stop ends it at once, and answers to property requests are not held up by it.
TEST_P(PnpTest, StopAndQueriesDoNotWaitForAFrameRead) {
    ASSERT_TRUE(Streaming());
    ASSERT_EQ(Set(CAMPROP_TIMEOUT, INT32_MAX), STATUS_SUCCESS);
    ASSERT_EQ(Set(CAMPROP_EXTRIGGER, 1), STATUS_SUCCESS);
    int answered = 0;
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(ReadPending());
        uint8_t byte = 0;
        const milliseconds query =
            Timed([&] { EXPECT_TRUE(host::ReadMemoryByte(Session().filter(), &byte).ok()); });
        ASSERT_LT(query, kStopBound) << "request " << i;
        ++answered;
    }
    std::printf("[ %s ] %d memory reads answered while a frame read waited\n", GetParam(),
                answered);
    EXPECT_LT(Timed([&] { EXPECT_EQ(Session().SetState(KSSTATE_PAUSE), STATUS_SUCCESS); }),
              kStopBound);
    EXPECT_EQ(Session().SetState(KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_TRUE(ReadPending());
    StopAndClose();
}

// A camera that stops answering on the response pipe: the request ends after its bound with
// an error, and the command lock is free again for the next one.
TEST_P(PnpTest, UnansweredQueryEndsWithAnError) {
    ASSERT_TRUE(Streaming());
    Bus().SetTransferDelay(sim::camera::kResponseEndpoint, std::chrono::seconds(30));
    uint8_t byte = 0x5A;
    sim::host::PropertyResult result;
    const milliseconds query =
        Timed([&] { result = host::ReadMemoryByte(Session().filter(), &byte); });
    EXPECT_LT(query, kStopBound);
    EXPECT_EQ(result.status, STATUS_IO_TIMEOUT);
    EXPECT_EQ(byte, 0x5A);
    Bus().SetTransferDelay(sim::camera::kResponseEndpoint, std::chrono::microseconds(0));
    EXPECT_TRUE(host::ReadMemoryByte(Session().filter(), &byte).ok());
    EXPECT_TRUE(TakePicture());
}

// A stalled command pipe is reset like a stalled data pipe, and frames come again.
TEST_P(PnpTest, StalledCommandPipeRecovers) {
    ASSERT_TRUE(Streaming());
    const uint64_t resets = Bus().Counters().pipeResets;
    Bus().StallEndpoint(sim::camera::kCommandEndpoint);
    RequeueCompleted();
    for (int i = 0; i < 10 && Bus().Counters().pipeResets == resets; ++i) {
        ASSERT_TRUE(TakePicture());
    }
    EXPECT_GT(Bus().Counters().pipeResets, resets);
    EXPECT_TRUE(TakePicture());
    EXPECT_TRUE(TakePicture());
}

INSTANTIATE_TEST_SUITE_P(Models, PnpTest, ZYN_PNP_MODELS);

} // namespace
} // namespace zyn::pnp
