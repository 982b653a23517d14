// zyn-stress as a user runs it: a short soak of each model ends clean, with its counts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/tools/tool_run.h"

namespace {

using zyn::testing::RunTool;

// "<N> operations, <F> faults injected, <D> frames delivered, <R> verifier reports, ..."
struct Summary {
    unsigned long long operations = 0, faults = 0, frames = 0, reports = 0, blocks = 0;
    int threads = -1;
};

bool ParseSummary(const std::string& out, Summary* summary) {
    const size_t line = out.rfind("operations, ");
    if (line == std::string::npos) {
        return false;
    }
    const size_t start = out.rfind('\n', line);
    const char* text = out.c_str() + (start == std::string::npos ? 0 : start + 1);
    return std::sscanf(text,
                       "%llu operations, %llu faults injected, %llu frames delivered, %llu "
                       "verifier reports, %llu pool blocks left, %d system threads left",
                       &summary->operations, &summary->faults, &summary->frames, &summary->reports,
                       &summary->blocks, &summary->threads) == 6;
}

class ZynStress : public ::testing::TestWithParam<const char*> {};

TEST_P(ZynStress, ASoakOfTheModelEndsWithoutReportLeakOrHang) {
    const auto run =
        RunTool(ZYN_STRESS_PATH, std::string("--model ") + GetParam() + " --seconds 3 --seed 7");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("seed 7"), std::string::npos) << run.out;
    Summary summary;
    ASSERT_TRUE(ParseSummary(run.out, &summary)) << run.out;
    std::printf("%s: %llu operations, %llu faults, %llu frames\n", GetParam(), summary.operations,
                summary.faults, summary.frames);
    EXPECT_GT(summary.operations, 0u);
    EXPECT_GT(summary.faults, 0u);
    EXPECT_EQ(summary.reports, 0u);
    EXPECT_EQ(summary.blocks, 0u);
    EXPECT_EQ(summary.threads, 0);
    // The progress line went to the error stream, once a second.
    EXPECT_NE(run.err.find("of 3s:"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Models, ZynStress, ::testing::Values("tern", "heron", "plover", "egret"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

TEST(ZynStressArguments, AnUnknownModelIsRefusedAtOnce) {
    const auto run = RunTool(ZYN_STRESS_PATH, "--model kestrel --seconds 1");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("no driver for model 'kestrel'"), std::string::npos) << run.err;
}

} // namespace
