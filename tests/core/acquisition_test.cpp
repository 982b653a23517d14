#include <atomic>
#include <thread>

#include "driver/core/acquisition.h"
#include "driver/models/tern/tern_model.h"
#include "driver/pipeline/color_state.h"
#include "sim/wdk/pool.h"
#include "sim/wdk/threads.h"
#include "tests/core/fake_camera_device.h"
#include "tests/support/verified_test.h"

namespace zyn {
namespace {

using testing::FakeCameraDevice;

TEST(RawSlotsTest, ConsumerGetsOnlyTheNewestFrameAndProducerSparesTheOneBeingConverted) {
    RawSlots slots;
    slots.Open();
    EXPECT_EQ(slots.BeginConvert(), RawSlots::kNoSlot);

    ULONG first = slots.BeginFill();
    EXPECT_EQ(first, 0u);
    slots.EndFill(first, TRUE);
    ULONG second = slots.BeginFill();
    EXPECT_EQ(second, 1u);
    slots.EndFill(second, TRUE);
    // The older frame went when the newer became ready.
    EXPECT_EQ(slots.State(0), RawSlots::kFree);
    EXPECT_EQ(slots.Dropped(), 1u);

    const ULONG converting = slots.BeginConvert();
    EXPECT_EQ(converting, 1u);
    EXPECT_EQ(slots.BeginConvert(), RawSlots::kNoSlot) << "no older frame after the newest";

    // While slot B is converted the producer alternates on A, overwriting its own frame.
    for (int i = 0; i < 3; ++i) {
        const ULONG slot = slots.BeginFill();
        EXPECT_EQ(slot, 0u);
        slots.EndFill(slot, TRUE);
    }
    EXPECT_EQ(slots.Dropped(), 3u);

    // Closing keeps the slot under conversion until the consumer lets it go.
    slots.Close();
    EXPECT_EQ(slots.State(1), RawSlots::kConverting);
    EXPECT_EQ(slots.State(0), RawSlots::kFree);
    EXPECT_EQ(slots.BeginConvert(), RawSlots::kNoSlot);
    const ULONG late = slots.BeginFill();
    slots.EndFill(late, TRUE);
    EXPECT_EQ(slots.State(late), RawSlots::kFree) << "a frame read after closing is dropped";
    slots.Open();
    EXPECT_EQ(slots.State(1), RawSlots::kConverting);
    slots.EndConvert(converting);
    EXPECT_EQ(slots.State(1), RawSlots::kFree);
}

class AcquisitionTest : public sim::testing::VerifiedTest {
protected:
    static constexpr ULONG kWidth = 64;
    static constexpr ULONG kHeight = 32;

    void SetUp() override {
        VerifiedTest::SetUp();
        device_ = new (NonPagedPool) FakeCameraDevice(traits_);
        colorState_ = new (NonPagedPool) ColorState();
        // Uniform raw frames then convert to the same value on every channel.
        colorState_->SetColorCorrection(0);
        acquisition_ = new (NonPagedPool) Acquisition(device_);
    }
    void TearDown() override {
        delete acquisition_;
        delete colorState_;
        delete device_;
        sim::pool::ClearInjectedFailures();
        VerifiedTest::TearDown();
    }

    // The blue byte of RGB pixel (x, y).
    int Pixel(ULONG x, ULONG y) const { return acquisition_->RgbFrame()[(y * kWidth + x) * 4]; }
    bool RgbUniform(int value) const {
        for (ULONG y = 0; y < kHeight; ++y) {
            for (ULONG x = 0; x < kWidth; ++x) {
                const UCHAR* p = acquisition_->RgbFrame() + (y * kWidth + x) * 4;
                if (p[0] != value || p[1] != value || p[2] != value || p[3] != 255) {
                    return false;
                }
            }
        }
        return true;
    }
    bool RgbZero() const {
        for (ULONG i = 0; i < kWidth * kHeight * 4; ++i) {
            if (acquisition_->RgbFrame()[i] != 0) {
                return false;
            }
        }
        return true;
    }
    AcquisitionCounters Counters() const {
        AcquisitionCounters counters{};
        acquisition_->GetCounters(&counters);
        return counters;
    }

    CameraModelTraits traits_ = tern::kTraits;
    FakeCameraDevice* device_ = nullptr;
    ColorState* colorState_ = nullptr;
    Acquisition* acquisition_ = nullptr;
};

TEST_F(AcquisitionTest, StartAllocatesTheFrameBuffersAndReleaseFreesThemAndStopsTheThread) {
    const auto before = sim::pool::Counters(kTagFrame);
    ASSERT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_SUCCESS);
    EXPECT_EQ(device_->Starts(), 1);
    EXPECT_EQ(acquisition_->CurrentState(), Acquisition::kRunning);
    EXPECT_TRUE(acquisition_->ThreadRunning());
    const auto running = sim::pool::Counters(kTagFrame);
    // Two raw buffers, the RGB frame buffer and the colour state's working buffer.
    EXPECT_EQ(running.liveBlocks - before.liveBlocks, 4u);
    EXPECT_EQ(running.liveBytes - before.liveBytes, 2ull * device_->GetRawFrameSize() +
                                                        kWidth * kHeight * 4 +
                                                        colorState_->WorkingSize());
    EXPECT_EQ(colorState_->OutputBuffer(), acquisition_->RgbFrame());
    EXPECT_EQ(colorState_->Width(), kWidth);
    EXPECT_TRUE(RgbZero()) << "no pool contents before the first frame";
    EXPECT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_INVALID_DEVICE_STATE);

    acquisition_->Release();
    EXPECT_EQ(acquisition_->CurrentState(), Acquisition::kIdle);
    EXPECT_FALSE(acquisition_->ThreadRunning());
    EXPECT_EQ(sim::RunningSystemThreads(), 0);
    EXPECT_EQ(sim::pool::Counters(kTagFrame).liveBlocks, before.liveBlocks);
    EXPECT_EQ(colorState_->OutputBuffer(), nullptr);
    EXPECT_EQ(colorState_->WorkBuffer(), nullptr);
    EXPECT_EQ(device_->Cancels(), 0) << "the Tern stops by aborting its pipes only";
}

TEST_F(AcquisitionTest, ConvertsOnlyTheNewestReadyFrame) {
    ASSERT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_SUCCESS);
    device_->Script(10);
    device_->Script(20);
    device_->Script(30);
    device_->WaitReadsDone(3);
    EXPECT_EQ(device_->Notified(), 3);

    ASSERT_TRUE(acquisition_->BeginProcessing());
    EXPECT_TRUE(acquisition_->ConvertReady());
    EXPECT_TRUE(RgbUniform(30));
    EXPECT_FALSE(acquisition_->ConvertReady()) << "an older frame came after the newest";
    acquisition_->ProcessingDone();

    const AcquisitionCounters counters = Counters();
    EXPECT_EQ(counters.framesRead, 3u);
    EXPECT_EQ(counters.framesConverted, 1u);
    EXPECT_EQ(counters.framesDropped, 2u);
    EXPECT_EQ(counters.readFailures, 0u);
    acquisition_->Release();
}

TEST_F(AcquisitionTest, TimedOutReadsAreRetriedAtOnceAndNotCountedAsFrames) {
    ASSERT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_SUCCESS);
    device_->Script(-1);
    device_->Script(-1);
    device_->Script(99);
    device_->WaitReadsDone(3);
    EXPECT_EQ(acquisition_->FramesRead(), 1u);
    EXPECT_EQ(Counters().readFailures, 2u);
    EXPECT_EQ(device_->Notified(), 1) << "only a frame asks the pin to process";
    acquisition_->Release();
}

TEST_F(AcquisitionTest, TheRegionIsCutOutOfTheFullSensorFrame) {
    device_->SetRegion(16, 8, kWidth, kHeight, 77);
    ASSERT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_SUCCESS);
    device_->Script(200);
    device_->WaitReadsDone(1);
    ASSERT_TRUE(acquisition_->BeginProcessing());
    EXPECT_TRUE(acquisition_->ConvertReady());
    EXPECT_TRUE(RgbUniform(77)) << "corner pixel " << Pixel(0, 0);
    acquisition_->ProcessingDone();
    acquisition_->Release();

    // A region reaching past the raw frame is not converted, and nothing is read beyond it.
    device_->SetRegion(0, FakeCameraDevice::kLines - kHeight + 1, kWidth, kHeight, 77);
    ASSERT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_SUCCESS);
    device_->Script(200);
    device_->WaitReadsDone(2);
    ASSERT_TRUE(acquisition_->BeginProcessing());
    EXPECT_FALSE(acquisition_->ConvertReady());
    EXPECT_TRUE(RgbZero());
    acquisition_->ProcessingDone();
    acquisition_->Release();
}

TEST_F(AcquisitionTest, PauseKeepsTheBuffersAndResumeStartsWithBothSlotsFree) {
    ASSERT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_SUCCESS);
    device_->Script(40);
    device_->WaitReadsDone(1);
    const auto allocations = sim::pool::Counters(kTagFrame).allocations;
    const UCHAR* rgb = acquisition_->RgbFrame();

    ASSERT_EQ(acquisition_->SetPaused(TRUE), STATUS_SUCCESS);
    EXPECT_EQ(acquisition_->CurrentState(), Acquisition::kPaused);
    EXPECT_FALSE(acquisition_->ThreadRunning());
    EXPECT_EQ(sim::RunningSystemThreads(), 0);
    EXPECT_EQ(acquisition_->SetPaused(TRUE), STATUS_SUCCESS) << "pausing twice does nothing";

    ASSERT_EQ(acquisition_->SetPaused(FALSE), STATUS_SUCCESS);
    EXPECT_EQ(acquisition_->CurrentState(), Acquisition::kRunning);
    EXPECT_TRUE(acquisition_->ThreadRunning());
    EXPECT_EQ(sim::pool::Counters(kTagFrame).allocations, allocations);
    EXPECT_EQ(acquisition_->RgbFrame(), rgb);
    EXPECT_EQ(device_->Starts(), 1) << "resuming does not start the camera again";

    ASSERT_TRUE(acquisition_->BeginProcessing());
    EXPECT_FALSE(acquisition_->ConvertReady()) << "the frame from before the pause is gone";
    acquisition_->ProcessingDone();
    device_->Script(50);
    device_->WaitReadsDone(2);
    ASSERT_TRUE(acquisition_->BeginProcessing());
    EXPECT_TRUE(acquisition_->ConvertReady());
    EXPECT_TRUE(RgbUniform(50));
    acquisition_->ProcessingDone();
    EXPECT_EQ(acquisition_->FramesRead(), 2u) << "the count runs on through a pause";
    acquisition_->Release();
}

TEST_F(AcquisitionTest, FailedStartsLeaveNothingAllocated) {
    const auto before = sim::pool::Counters(kTagFrame);
    device_->SetStartStatus(STATUS_UNSUCCESSFUL);
    EXPECT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(sim::pool::Counters(kTagFrame).allocations, before.allocations);

    device_->SetStartStatus(STATUS_SUCCESS);
    sim::pool::FailAllocationsWithTag(kTagFrame);
    EXPECT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_INSUFFICIENT_RESOURCES);
    sim::pool::ClearInjectedFailures();
    // The RGB buffer alone fails, after both raw buffers were taken.
    sim::pool::FailNthAllocation(3);
    EXPECT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_INSUFFICIENT_RESOURCES);
    sim::pool::ClearInjectedFailures();

    EXPECT_EQ(sim::pool::Counters(kTagFrame).liveBlocks, before.liveBlocks);
    EXPECT_EQ(acquisition_->CurrentState(), Acquisition::kIdle);
    EXPECT_FALSE(acquisition_->ThreadRunning());
    EXPECT_EQ(colorState_->OutputBuffer(), nullptr);

    ASSERT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_SUCCESS);
    acquisition_->Release();
}

TEST_F(AcquisitionTest, ReleaseWaitsForABusyProcessRoutineAndLaterOnesFindTheStreamClosed) {
    ASSERT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_SUCCESS);
    // Nothing processing: the release does not wait.
    acquisition_->Release();
    ASSERT_EQ(acquisition_->Start(colorState_, kWidth, kHeight), STATUS_SUCCESS);
    device_->Script(60);
    device_->WaitReadsDone(1);

    ASSERT_TRUE(acquisition_->BeginProcessing());
    ASSERT_TRUE(acquisition_->ConvertReady());
    const UCHAR* rgb = acquisition_->RgbFrame();
    std::atomic<bool> released{false};
    std::thread stopper([&] {
        acquisition_->Release();
        released = true;
    });
    // The stop has ended the thread and now waits for this routine.
    device_->WaitAborted();
    while (sim::RunningSystemThreads() != 0) {
        std::this_thread::yield();
    }
    for (int i = 0; i < 100; ++i) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(released.load());
    EXPECT_TRUE(sim::pool::ContainsRange(rgb, kWidth * kHeight * 4)) << "freed under the routine";
    EXPECT_EQ(rgb[0], 60);
    acquisition_->ProcessingDone();
    stopper.join();
    EXPECT_TRUE(released.load());
    EXPECT_FALSE(acquisition_->BeginProcessing());
    EXPECT_EQ(acquisition_->CurrentState(), Acquisition::kIdle);
}

TEST_F(AcquisitionTest, ModelsThatCancelReadsDoSoWhenTheThreadStops) {
    traits_.cancelReadsOnStop = TRUE;
    FakeCameraDevice device(traits_);
    Acquisition* acquisition = new (NonPagedPool) Acquisition(&device);
    ASSERT_EQ(acquisition->Start(colorState_, kWidth, kHeight), STATUS_SUCCESS);
    ASSERT_EQ(acquisition->SetPaused(TRUE), STATUS_SUCCESS);
    EXPECT_EQ(device.Cancels(), 1);
    // Freed through the object bag's callback, which releases a stream still paused.
    Acquisition::ReleaseFromBag(acquisition);
    EXPECT_EQ(colorState_->OutputBuffer(), nullptr);
}

} // namespace
} // namespace zyn
