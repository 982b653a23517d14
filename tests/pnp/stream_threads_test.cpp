// Threads against the stream on every model: the acquisition thread stopped and started
// again by pause and resume, and settings sent from another thread in a tight loop while frames
// flow. Each pause must end within its bound, and frames must keep coming.
#include <atomic>
#include <thread>

#include "tests/pnp/pnp_fixture.h"
#include "sim/host/camera_properties.h"

namespace zyn::pnp {
namespace {

constexpr int kPauseRunCycles = 200;

TEST_P(PnpTest, PauseRunCyclesWithFramesBetween) {
    OpenCamera();
    RunPin();
    int cycles = 0;
    for (; cycles < kPauseRunCycles; ++cycles) {
        ASSERT_TRUE(TakePicture()) << "cycle " << cycles;
        ASSERT_LT(Timed([&] { ASSERT_EQ(Session().SetState(KSSTATE_PAUSE), STATUS_SUCCESS); }),
                  kStopBound)
            << "cycle " << cycles;
        ASSERT_EQ(Session().SetState(KSSTATE_RUN), STATUS_SUCCESS) << "cycle " << cycles;
    }
    std::printf("[ %s ] PAUSE/RUN cycles: %d\n", GetParam(), cycles);
}

TEST_P(PnpTest, SettingsFromAnotherThreadWhileStreaming) {
    ASSERT_TRUE(Streaming());
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread settings([&] {
        static constexpr ULONG kItems[] = {
            CAMPROP_EXPOSURE,   CAMPROP_GAIN,       CAMPROP_RED_GAIN,
            CAMPROP_GREEN_GAIN, CAMPROP_BLUE_GAIN,  CAMPROP_BRIGHTNESS,
            CAMPROP_CONTRAST,   CAMPROP_SATURATION, CAMPROP_HUE};
        for (LONG value = 0; !stop.load(); ++value) {
            for (const ULONG id : kItems) {
                if (host::SetValue(Session().filter(), id, value % 200).status != STATUS_SUCCESS) {
                    ADD_FAILURE() << "item " << id;
                }
                ++sent;
            }
        }
    });
    // Frames and settings overlap for a while, however fast either side is.
    int frames = 0;
    bool flowing = true;
    while ((frames < 30 || sent.load() < 100) && (flowing = TakePicture())) {
        ++frames;
    }
    stop = true;
    settings.join();
    EXPECT_TRUE(flowing) << "frames stopped after " << frames;
    std::printf("[ %s ] %d settings sent while %d frames flowed\n", GetParam(), sent.load(),
                frames);
    EXPECT_LT(Timed([&] { EXPECT_EQ(Session().SetState(KSSTATE_STOP), STATUS_SUCCESS); }),
              kStopBound);
}

INSTANTIATE_TEST_SUITE_P(Models, PnpTest, ZYN_PNP_MODELS);

} // namespace
} // namespace zyn::pnp
