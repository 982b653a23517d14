// zyn-ctl as a user runs it on an emulated Tern.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/tools/tool_run.h"

namespace {

using CtlRun = zyn::testing::ToolRun;

CtlRun Ctl(const std::string& arguments) {
    return zyn::testing::RunTool(ZYN_CTL_PATH, arguments);
}

TEST(ZynCtl, ListPrintsEveryTernPropertyWithRangesAndNothingElse) {
    const CtlRun run = Ctl("--list");
    ASSERT_EQ(run.status, 0) << run.err;
    int lines = 0;
    std::istringstream out(run.out);
    std::string line;
    std::getline(out, line); // header
    while (std::getline(out, line)) {
        std::istringstream fields(line);
        int id = -1;
        fields >> id;
        EXPECT_EQ(id, lines) << line;
        ++lines;
    }
    EXPECT_EQ(lines, 69);
    EXPECT_NE(run.out.find("exposure             get/set  8  (min 8, max 1074, default 64)"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("region               set      -"), std::string::npos);
    EXPECT_NE(run.out.find("color_gain_dialog"), std::string::npos);
    EXPECT_EQ(run.out.find("dot_threshold"), std::string::npos);
}

TEST(ZynCtl, RequestsRunInOrderAndAFailureDoesNotStopTheRest) {
    const CtlRun run = Ctl("--get hue --set hue=400 --get NOSUCH --get 32 --get dot "
                           "--set red_gain=-3 --get red_gain --set timeout=abc --set hue=5, "
                           "--set timeout=4294967296 --region 0,0,1004,0 --format");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.substr(0, run.out.find("width")), "hue = 0\nhue = 359\nred_gain = 1\n");
    EXPECT_NE(run.out.find("width = 1000\nheight = 1024\nbiSizeImage = 4096000\n"
                           "SampleSize = 4096000\nMinFrameInterval = 333333\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("NOSUCH: no such property"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("get dot: STATUS_NOT_FOUND"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("'abc'"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("'5,'"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("'4294967296'"), std::string::npos) << run.err;
}

TEST(ZynCtl, SettingsPersistInTheRegistryFileBetweenRuns) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("zyn-ctl-registry-" + std::to_string(getpid()));
    std::filesystem::remove(file);
    CtlRun first =
        Ctl("--registry " + file.string() + " --set brightness=300 --region 8,0,640,480");
    ASSERT_EQ(first.status, 0) << first.err;
    CtlRun second = Ctl("--registry " + file.string() + " --get brightness --format");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out.substr(0, second.out.find("biSizeImage")),
              "brightness = 300\nwidth = 640\nheight = 480\n");
    std::filesystem::remove(file);

    EXPECT_EQ(Ctl("--model kite --list").status, 2);
}

TEST(ZynCtl, TheOtherModelsShowTheirItemsLimitsAndRegions) {
    CtlRun plover = Ctl("--model plover --list");
    ASSERT_EQ(plover.status, 0) << plover.err;
    EXPECT_NE(plover.out.find("dot_threshold"), std::string::npos) << plover.out;
    EXPECT_NE(plover.out.find("exposure             get/set  1  (min 1, max 8191, default 960)"),
              std::string::npos)
        << plover.out;

    // Heron keeps its windows on the crop registers' steps of 4 pixels.
    CtlRun heron = Ctl("--model heron --get sensor_width --get gain_max --get dot "
                       "--region 10,7,333,201 --get roi_x --format");
    EXPECT_EQ(heron.status, 1) << "Heron has no dot filter";
    EXPECT_EQ(heron.out.substr(0, heron.out.find("biSizeImage")),
              "sensor_width = 2448\ngain_max = 480\nroi_x = 12\nwidth = 336\nheight = 204\n")
        << heron.out;

    CtlRun egret = Ctl("--model egret --region 0,0,0,0,1 --get roi_width --format");
    ASSERT_EQ(egret.status, 0) << egret.err;
    EXPECT_EQ(egret.out.substr(0, egret.out.find("biSizeImage")),
              "roi_width = 2048\nwidth = 1024\nheight = 768\n");
}

} // namespace
