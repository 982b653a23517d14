// Long cycles on every model: the stream started and stopped, the camera pulled and plugged in
// again. Each cycle must bring frames; nothing may be left behind (the fixture checks).

#include "sim/wdk/threads.h"
#include "tests/pnp/pnp_fixture.h"
#include "sim/host/camera_properties.h"

namespace zyn::pnp {
namespace {

constexpr int kRunStopCycles = 200;
constexpr int kReplugCycles = 20;

TEST_P(PnpTest, RunStopCyclesWithFramesBetween) {
    sim::ShortDelays shortDelays; // each run waits for the frame size to settle
    OpenCamera();
    ASSERT_EQ(Session().CreatePin(), STATUS_SUCCESS);
    int cycles = 0;
    for (; cycles < kRunStopCycles; ++cycles) {
        ASSERT_EQ(Session().SetState(KSSTATE_RUN), STATUS_SUCCESS) << "cycle " << cycles;
        ASSERT_TRUE(TakePicture()) << "cycle " << cycles;
        ASSERT_LT(Timed([&] { ASSERT_EQ(Session().SetState(KSSTATE_STOP), STATUS_SUCCESS); }),
                  kStopBound)
            << "cycle " << cycles;
    }
    EXPECT_EQ(sim::RunningSystemThreads(), 0);
    std::printf("[ %s ] RUN/STOP cycles: %d\n", GetParam(), cycles);
}

TEST_P(PnpTest, UnplugReplugCycles) {
    sim::ShortDelays shortDelays; // each plug waits for the sensor's power-up
    OpenCamera();
    int cycles = 0;
    for (; cycles < kReplugCycles; ++cycles) {
        RunPin();
        ASSERT_TRUE(TakePicture()) << "cycle " << cycles;
        ASSERT_EQ(Session().Replug(), STATUS_SUCCESS) << "cycle " << cycles;
        EXPECT_EQ(sim::RunningSystemThreads(), 0);
        Prepare();
    }
    RunPin();
    EXPECT_TRUE(TakePicture());
    std::printf("[ %s ] unplug/replug cycles: %d\n", GetParam(), cycles);
}

INSTANTIATE_TEST_SUITE_P(Models, PnpTest, ZYN_PNP_MODELS);

} // namespace
} // namespace zyn::pnp
