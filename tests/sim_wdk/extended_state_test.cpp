#include <gtest/gtest.h>

#include <thread>

#include "sim/wdk/sim_wdk.h"
#include "tests/sim_wdk/system_thread.h"
#include "tests/support/verified_test.h"

namespace {

using sim::testing::VerifierCapture;

class ExtendedStateTest : public sim::testing::VerifiedTest {
protected:
    void TearDown() override {
        sim::SetExtendedStateSaveFails(false);
        sim::HideProcessorFeature(PF_AVX2_INSTRUCTIONS_AVAILABLE, false);
        sim::HideProcessorFeature(PF_AVX512F_INSTRUCTIONS_AVAILABLE, false);
        VerifiedTest::TearDown();
    }
};

TEST_F(ExtendedStateTest, SavesNestAndCoverTheCodeThatNeedsThem) {
    XSTATE_SAVE outer, inner;
    ASSERT_EQ(KeSaveExtendedProcessorState(XSTATE_MASK_AVX, &outer), STATUS_SUCCESS);
    ASSERT_EQ(KeSaveExtendedProcessorState(XSTATE_MASK_AVX512, &inner), STATUS_SUCCESS);
    EXPECT_EQ(sim::OpenExtendedStateSaves(), 2);
    {
        VerifierCapture capture;
        sim::RequireExtendedState(XSTATE_MASK_AVX | XSTATE_MASK_AVX512, "wide code");
        EXPECT_EQ(capture.Count(), 0u);
    }
    KeRestoreExtendedProcessorState(&inner);
    {
        VerifierCapture capture;
        sim::RequireExtendedState(XSTATE_MASK_AVX512, "wide code");
        EXPECT_TRUE(capture.Saw("wide code runs without the extended processor state saved"));
    }
    KeRestoreExtendedProcessorState(&outer);
    EXPECT_EQ(sim::OpenExtendedStateSaves(), 0);
    VerifierCapture capture;
    sim::RequireExtendedState(XSTATE_MASK_AVX, "AVX code");
    EXPECT_TRUE(capture.Saw("AVX code runs without"));
}

TEST_F(ExtendedStateTest, RestoresMustMatchTheLastSaveOfTheSameThread) {
    XSTATE_SAVE first, second;
    ASSERT_EQ(KeSaveExtendedProcessorState(XSTATE_MASK_AVX, &first), STATUS_SUCCESS);
    ASSERT_EQ(KeSaveExtendedProcessorState(XSTATE_MASK_AVX, &second), STATUS_SUCCESS);
    {
        VerifierCapture capture;
        KeRestoreExtendedProcessorState(&first);
        EXPECT_TRUE(capture.Saw("not saved last on this thread"));
    }
    {
        VerifierCapture capture;
        std::thread([&] { KeRestoreExtendedProcessorState(&second); }).join();
        EXPECT_TRUE(capture.Saw("on another thread"));
    }
    KeRestoreExtendedProcessorState(&second);
    KeRestoreExtendedProcessorState(&first);
    VerifierCapture capture;
    KeRestoreExtendedProcessorState(&first);
    EXPECT_TRUE(capture.Saw("not saved"));
    EXPECT_EQ(sim::OpenExtendedStateSaves(), 0);
}

TEST_F(ExtendedStateTest, CallsAboveDispatchLevelAndInjectedFailures) {
    XSTATE_SAVE save;
    KIRQL old;
    KeRaiseIrql(HIGH_LEVEL, &old);
    {
        VerifierCapture capture;
        EXPECT_FALSE(NT_SUCCESS(KeSaveExtendedProcessorState(XSTATE_MASK_AVX, &save)));
        EXPECT_TRUE(capture.Saw("KeSaveExtendedProcessorState"));
    }
    KeLowerIrql(old);

    sim::SetExtendedStateSaveFails(true);
    const uint64_t saves = sim::ExtendedStateSaves();
    EXPECT_EQ(KeSaveExtendedProcessorState(XSTATE_MASK_AVX, &save),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(sim::ExtendedStateSaves(), saves);
    EXPECT_EQ(sim::OpenExtendedStateSaves(), 0);
}

TEST_F(ExtendedStateTest, ASystemThreadMayNotEndHoldingASave) {
    VerifierCapture capture;
    sim::testing::RunSystemThread(
        [](PVOID) {
            static XSTATE_SAVE save;
            KeSaveExtendedProcessorState(XSTATE_MASK_AVX, &save);
        },
        nullptr);
    EXPECT_TRUE(capture.Saw("extended processor state(s) saved and not restored"));
}

TEST_F(ExtendedStateTest, HiddenFeaturesAreReportedAbsent) {
    EXPECT_TRUE(ExIsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE));
    const bool avx512 = ExIsProcessorFeaturePresent(PF_AVX512F_INSTRUCTIONS_AVAILABLE);
    sim::HideProcessorFeature(PF_AVX2_INSTRUCTIONS_AVAILABLE, true);
    EXPECT_FALSE(ExIsProcessorFeaturePresent(PF_AVX2_INSTRUCTIONS_AVAILABLE));
    EXPECT_FALSE(ExIsProcessorFeaturePresent(PF_AVX512F_INSTRUCTIONS_AVAILABLE));
    sim::HideProcessorFeature(PF_AVX2_INSTRUCTIONS_AVAILABLE, false);
    EXPECT_EQ(ExIsProcessorFeaturePresent(PF_AVX512F_INSTRUCTIONS_AVAILABLE), avx512);
}

} // namespace
