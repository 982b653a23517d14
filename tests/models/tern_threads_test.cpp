#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/camera_rig.h"
#include "tests/models/tern_device_fixture.h"

namespace {

using namespace tern_test;

// Property requests on client threads while the acquisition thread reads frames: commands
// keep their answers, and the frame read never waits for the command lock.
TEST_F(TernDeviceTest, CommandsFromSeveralThreadsKeepTheirAnswersWhileFramesAreRead) {
    ASSERT_EQ(device_->StartCapture(nullptr, 1360, 1024), STATUS_SUCCESS);
    // The camera's picture follows exposure and gain, also while a frame is read out: the
    // settings thread programs the same long exposure and gain again and again, so that every
    // frame is the same picture while those commands interleave with the read.
    constexpr LONG kGain = 100;
    constexpr LONG kLongExposure = 1070;
    ASSERT_TRUE(device_->setGain(kGain));
    ASSERT_TRUE(device_->setExposure(kLongExposure));
    rig_->camera.WriteMemory(0x0100, {0x11, 0x22});
    rig_->camera.SetClockIndex(1);

    constexpr int kFrames = 4;
    constexpr int kRounds = 40;
    std::atomic<int> goodFrames{0};
    std::atomic<int> wrongAnswers{0};
    std::atomic<int> failedCommands{0};

    std::thread reader([&] {
        camera_rig::PoolBuffer frame(device_->GetRawFrameSize());
        for (int i = 0; i < kFrames; ++i) {
            if (device_->ReadRawFrame(frame.data()) &&
                frame.Bytes() == rig_->camera.ExpectedFrame()) {
                ++goodFrames;
            }
        }
    });
    std::thread memory([&] {
        for (int i = 0; i < kRounds; ++i) {
            UCHAR value = 0;
            const USHORT address = (i & 1) ? 0x0101 : 0x0100;
            if (!device_->readMemoryByte(address, &value)) {
                ++failedCommands;
            } else if (value != ((i & 1) ? 0x22 : 0x11)) {
                ++wrongAnswers;
            }
        }
    });
    std::thread settings([&] {
        for (int i = 0; i < kRounds; ++i) {
            LONG clock = 0;
            if (!device_->readClock(&clock) || !device_->setGain(kGain) ||
                !device_->setExposure(kLongExposure)) {
                ++failedCommands;
            } else if (clock != 1) {
                ++wrongAnswers;
            }
        }
    });
    reader.join();
    memory.join();
    settings.join();

    EXPECT_EQ(goodFrames.load(), kFrames);
    EXPECT_EQ(wrongAnswers.load(), 0);
    EXPECT_EQ(failedCommands.load(), 0);
    EXPECT_EQ(rig_->camera.Status().answersQueued, 0u);

    // The long exposure mode held with commands interleaving.
    EXPECT_EQ(rig_->camera.SensorRegister(154), 1u);
}

} // namespace
