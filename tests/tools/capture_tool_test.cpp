// zyn-capture as a user runs it on an emulated Tern.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>

#include "driver/pipeline/color_state.h"
#include "sim/imaging/png_file.h"
#include "tests/tools/tool_run.h"

namespace {

namespace fs = std::filesystem;

using zyn::testing::ToolRun;

class ZynCapture : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("zyn-capture-test-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    ToolRun Capture(const std::string& arguments) {
        return zyn::testing::RunTool(ZYN_CAPTURE_PATH, arguments);
    }

    fs::path dir_;
};

// The picture the pipeline makes of a raw frame's region with the default settings, top row
// first, cut to `outputWidth` columns.
imaging::RgbImage Convert(const std::vector<uint8_t>& raw, int x, int y, int w, int h,
                          int outputWidth) {
    std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4);
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState();
    state->SetBayerPhase(2);
    state->SetFrameSize(w, h);
    EXPECT_EQ(state->AllocateWorkBuffer(), STATUS_SUCCESS);
    state->SetOutputBuffer(bgra.data());
    zyn::ConvertFrame(state, raw.data(), y * 1360 + x, 1360);
    state->SetOutputBuffer(nullptr);
    delete state;
    return imaging::FromBgra(bgra.data(), outputWidth, h, static_cast<size_t>(w) * 4);
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

TEST_F(ZynCapture, WritesEveryKthPictureUprightWithItsRawFrameAndTheCommandLog) {
    const ToolRun run =
        Capture("--frames 4 --every 2 --raw --unpaced --scene gradient "
                "--region 8,16,1004,600 --out " +
                dir_.string() + " --command-log " + (dir_ / "commands.txt").string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_NE(run.out.find("frames delivered        4\n"), std::string::npos) << run.out;
    for (const char* line : {"frames read by driver", "frames dropped", "read timeouts",
                             "mean frames per second", "mean conversion time"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line;
    }

    // Frames 0 and 2, each with the raw frame it came from, named for zyn-convert.
    for (const char* name : {"frame-0000", "frame-0002"}) {
        SCOPED_TRACE(name);
        imaging::RgbImage picture;
        std::string error;
        ASSERT_TRUE(
            imaging::ReadPng((dir_ / (std::string(name) + ".png")).string(), picture, error))
            << error;
        EXPECT_EQ(picture.width, 1000);
        EXPECT_EQ(picture.height, 600);
        const fs::path raw =
            dir_ / (std::string(name) + ".w1004.h600.pitch1360.offset21768.phase2.raw");
        ASSERT_TRUE(fs::exists(raw));
        const std::vector<uint8_t> bytes = ReadBytes(raw);
        ASSERT_EQ(bytes.size(), 1360u * 1024);
        EXPECT_TRUE(Convert(bytes, 8, 16, 1004, 600, 1000).pixels == picture.pixels);
    }
    EXPECT_FALSE(fs::exists(dir_ / "frame-0001.png"));
    EXPECT_NE(run.out.find("zyn-convert --width 1004 --height 600 --pitch 1360 --offset 21768 "
                           "--phase 2"),
              std::string::npos)
        << run.out;

    // One packet a line: 64 bytes in two-digit hex, the frame requests among them.
    std::ifstream log(dir_ / "commands.txt");
    std::string line;
    int packets = 0, frameRequests = 0;
    const std::regex packet("([0-9a-f]{2} ){63}[0-9a-f]{2}");
    while (std::getline(log, line)) {
        ++packets;
        ASSERT_TRUE(std::regex_match(line, packet)) << line;
        frameRequests += line.rfind("02 00", 0) == 0 ? 1 : 0;
    }
    EXPECT_GT(packets, 100);
    EXPECT_GE(frameRequests, 8) << "two frame requests for each of at least four frames";
}

TEST_F(ZynCapture, TriggeredCaptureRunsOnTheToolsPulses) {
    const ToolRun run =
        Capture("--frames 3 --every 100 --unpaced --trigger-every 30 --out " + dir_.string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("frames delivered        3\n"), std::string::npos) << run.out;
    std::smatch read;
    ASSERT_TRUE(std::regex_search(run.out, read, std::regex("frames read by driver +([0-9]+)")));
    EXPECT_GE(std::stoi(read[1]), 3);
    EXPECT_NE(run.out.find("read timeouts           0\n"), std::string::npos) << run.out;
}

TEST_F(ZynCapture, SettingsPersistInTheRegistryFile) {
    const std::string registry = (dir_ / "registry.txt").string();
    ToolRun run = Capture("--frames 1 --unpaced --set brightness=300 --set flip_v=1 --registry " +
                          registry + " --out " + dir_.string());
    ASSERT_EQ(run.status, 0) << run.err;
    run = Capture("--frames 1 --raw --unpaced --registry " + registry + " --out " + dir_.string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("--brightness 300"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("flipped as set"), std::string::npos) << run.out;
}

TEST_F(ZynCapture, ReplugsKeepTheStoredSettingsAndFrameInfoNumbersEachStream) {
    const std::string info = (dir_ / "frames.csv").string();
    const ToolRun run = Capture("--frames 7 --every 3 --raw --unpaced --replug-after 3 "
                                "--set brightness=300 --region 8,16,1004,600 --frame-info " +
                                info + " --out " + dir_.string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("frames delivered        7\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("replugs                 2\n"), std::string::npos) << run.out;
    // The settings of the last device, which only the registry gave it.
    EXPECT_NE(run.out.find("--width 1004 --height 600"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("--brightness 300"), std::string::npos) << run.out;
    for (const char* name : {"frame-0000.png", "frame-0003.png", "frame-0006.png"}) {
        imaging::RgbImage picture;
        std::string error;
        ASSERT_TRUE(imaging::ReadPng((dir_ / name).string(), picture, error)) << error;
        EXPECT_EQ(picture.width, 1000) << name;
        EXPECT_EQ(picture.height, 600) << name;
    }

    // A line per frame; each replug starts a new stream, numbered from 1 again, and within a
    // stream every frame is either delivered or counted as dropped.
    std::ifstream file(info);
    std::string line;
    long long lines = 0, drops = 0, lastNumber = 0, lastDrops = 0, lastTime = -1;
    const std::regex row("([0-9]+),([0-9]+),([0-9]+),([0-9]+)");
    while (std::getline(file, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, row)) << line;
        EXPECT_EQ(std::stoll(m[1]), lines);
        const long long number = std::stoll(m[2]), dropCount = std::stoll(m[3]);
        const long long inStream = lines % 3 + 1;
        if (inStream == 1) {
            drops += lastDrops;
            lastNumber = lastDrops = 0;
            lastTime = -1; // and a new pin with its clock
        }
        EXPECT_GT(number, lastNumber) << line;
        EXPECT_GE(dropCount, lastDrops) << line;
        EXPECT_EQ(number - dropCount, inStream) << line;
        EXPECT_GT(std::stoll(m[4]), lastTime) << line;
        lastNumber = number;
        lastDrops = dropCount;
        lastTime = std::stoll(m[4]);
        ++lines;
    }
    EXPECT_EQ(lines, 7);
    EXPECT_NE(run.out.find("frames dropped          " + std::to_string(drops + lastDrops) + "\n"),
              std::string::npos)
        << run.out;
}

// Two cameras at once, each in its folder with its own region and settings, its own frame-info
// file and its own line in the summary.
TEST_F(ZynCapture, SeveralCamerasStreamAtOnceEachWithItsOwnSizeAndSettings) {
    const ToolRun run = Capture("--cameras 2 --region 2:100,50,640,480 --set 1:brightness=300 "
                                "--frames 2 --raw --unpaced --scene gradient --frame-info " +
                                (dir_ / "frames.csv").string() + " --out " + dir_.string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("frames delivered        4\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("camera 1                frames 2, written 2, dropped "),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("camera 2                frames 2, written 2, dropped "),
              std::string::npos)
        << run.out;
    // Camera 1 alone took the brightness.
    const size_t brightness = run.out.find("--brightness 300");
    ASSERT_NE(brightness, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("--brightness", brightness + 1), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(dir_ / "frame-0000.png"));

    imaging::RgbImage picture;
    std::string error;
    ASSERT_TRUE(imaging::ReadPng((dir_ / "camera-1" / "frame-0001.png").string(), picture, error))
        << error;
    EXPECT_EQ(picture.width, 1360);
    EXPECT_EQ(picture.height, 1024);
    ASSERT_TRUE(imaging::ReadPng((dir_ / "camera-2" / "frame-0001.png").string(), picture, error))
        << error;
    const fs::path raw =
        dir_ / "camera-2" / "frame-0001.w640.h480.pitch1360.offset68100.phase2.raw";
    ASSERT_TRUE(fs::exists(raw));
    EXPECT_TRUE(Convert(ReadBytes(raw), 100, 50, 640, 480, 640).pixels == picture.pixels);

    for (const char* name : {"frames-1.csv", "frames-2.csv"}) {
        std::ifstream file(dir_ / name);
        std::string line;
        int lines = 0;
        while (std::getline(file, line)) {
            ++lines;
        }
        EXPECT_EQ(lines, 2) << name;
    }
}

TEST_F(ZynCapture, BadInputGetsOneLineAndAFailingStatus) {
    const std::string out = " --out " + dir_.string();
    for (const std::string& arguments :
         std::vector<std::string>{"--frames 0",
                                  "--every 0",
                                  "--region 1,2,3",
                                  "--region 1,2,x,4",
                                  "--region 0,0,64,64,",
                                  "--region 0,0,64,4294967296",
                                  "--set no_such_setting=1",
                                  "--set exposure=abc",
                                  "--set exposure",
                                  "--set exposure=1,2",
                                  "--set exposure=64,",
                                  "--scene " + (dir_ / "missing.png").string(),
                                  "--model kestrel",
                                  "--trigger-every -5",
                                  "--frames 1 --unpaced --set region=0,0,8000,8000,9,9",
                                  "--frames many",
                                  "--replug-after -1",
                                  "--frame-info " + (dir_ / "missing" / "frames.csv").string(),
                                  "--cameras 0",
                                  "--cameras 2 --region 3:0,0,64,64",
                                  "--region 2:0,0,64,64",
                                  "--set 0:exposure=1",
                                  "--cameras 2 --scene 2:" + (dir_ / "missing.png").string()}) {
        SCOPED_TRACE(arguments);
        const ToolRun run = Capture(arguments + out);
        EXPECT_NE(run.status, 0);
        EXPECT_TRUE(run.out.empty()) << run.out;
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_EQ(run.err.rfind("zyn-capture: ", 0), 0u) << run.err;
    }
}

} // namespace
