#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "driver/pipeline/color_state.h"
#include "sim/imaging/bayer.h"
#include "sim/imaging/png_file.h"
#include "sim/imaging/scenes.h"

namespace {

struct ToolRun {
    int exitCode;
    std::string out, err;
};

class ConvertToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zyn-convert-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    ToolRun Convert(const std::string& args) const {
        const std::string command = std::string(ZYN_CONVERT_PATH) + " " + args + " >'" +
                                    Path("stdout") + "' 2>'" + Path("stderr") + "'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Read(Path("stdout")),
                Read(Path("stderr"))};
    }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    }

    std::string dir_;
};

struct Settings {
    int phase = 2;
    LONG gains[3] = {128, 128, 128};
    LONG hue = 0, contrast = 10;
    bool awb = false, mono = false;
};

// The drivers' conversion in process, as the tool should run it.
std::vector<uint8_t> LibraryConvert(const std::vector<uint8_t>& raw, int width, int height,
                                    ULONG offset, ULONG pitch, const Settings& s,
                                    LONG gainsUsed[3]) {
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState();
    state->SetWhiteBalance(s.awb);
    state->SetBayerPhase(s.phase);
    state->SetColorEnable(!s.mono);
    state->SetRedGain(s.gains[0]);
    state->SetGreenGain(s.gains[1]);
    state->SetBlueGain(s.gains[2]);
    state->SetContrast(s.contrast);
    state->SetHue(s.hue);
    std::vector<uint8_t> bgra(static_cast<size_t>(width) * height * 4);
    state->SetFrameSize(width, height);
    EXPECT_EQ(state->AllocateWorkBuffer(), STATUS_SUCCESS);
    state->SetOutputBuffer(bgra.data());
    zyn::ConvertFrame(state, raw.data(), offset, pitch);
    gainsUsed[0] = state->GetRedGain();
    gainsUsed[1] = state->GetGreenGain();
    gainsUsed[2] = state->GetBlueGain();
    delete state;
    return bgra;
}

TEST_F(ConvertToolTest, BadInputGetsOneLineNamingTheProblem) {
    Write(Path("raw"), std::vector<uint8_t>(100, 7));
    Write(Path("bad.png"), std::vector<uint8_t>(100, 7));
    Write(Path("wide.pgm"), {'P', '5', ' ', '2', ' ', '2', ' ', '6', '5', '5', '3', '5', '\n'});
    const std::string raw = Path("raw") + " " + Path("out.png");
    const std::pair<std::string, std::string> cases[] = {
        {"--width 10 --height 10 --phase 0 " + Path("missing") + " " + Path("o.png"),
         "cannot open"},
        {"--width 10 --height 11 --phase 0 " + raw, "too short: 100 bytes, the frame needs 110"},
        {"--width 10 --height 10 --offset 1 --phase 0 " + raw, "too short"},
        {"--width 0 --height 10 --phase 0 " + raw, "must be positive"},
        {"--width -4 --height 10 --phase 0 " + raw, "must be positive"},
        {"--width 10 --height 10 --phase 4 " + raw, "--phase must be 0"},
        {"--width 10 --height 10 --phase -1 " + raw, "--phase must be 0"},
        {"--width 10 --height 10 --pitch 9 --phase 0 " + raw, "smaller than the width"},
        {"--phase 0 " + raw, "--width and --height are required"},
        {"--mosaic --phase 0 " + Path("bad.png") + " " + Path("o.png"), "not a readable PNG"},
        {"--width 10 --height 10 --phase 0 " + Path("raw") + " /nonexistent/dir/o.png",
         "/nonexistent/dir/o.png"},
        {"--width 10 --height 10 --phase 0 " + Path("raw") + " /nonexistent/dir/o.bgra",
         "cannot write"},
        {"--width 10 --height 10 --phase 0 " + Path("raw") + " " + Path("o.jpg"),
         "must end in .png or .bgra"},
        {"--width 10 --height 10 --phase 0 --gains 1,2 " + raw, "--gains must be three"},
        {"--width 10 --height 10 --phase 0 --gains 1,2,3, " + raw, "--gains must be three"},
        {"--width 10 --height 10 --phase 0 --gains 1,2,2147483648 " + raw, "--gains must be three"},
        {"--width 10 --height 10 --phase 0 --frobnicate " + raw, "--frobnicate"},
        {"--width 10 --height 10 --phase 0 " + Path("raw"), "OUTPUT is required"},
        {"--phase 0 " + Path("wide.pgm") + " " + Path("o.png"), "only 8-bit PGM"},
        {"--width 10 --height 10 --phase 0 --isa neon " + raw, "--isa must be sse2, avx2"},
    };
    for (const auto& [args, expected] : cases) {
        const ToolRun run = Convert(args);
        EXPECT_NE(run.exitCode, 0) << args;
        EXPECT_NE(run.err.find(expected), std::string::npos) << args << "\n" << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << args << "\n" << run.err;
        EXPECT_TRUE(run.out.empty()) << args;
    }
}

TEST_F(ConvertToolTest, RawFrameWithOffsetAndPitchConvertsAsTheDriverDoes) {
    const int width = 37, height = 21;
    const ULONG offset = 13, pitch = 45;
    std::mt19937 random(5);
    std::vector<uint8_t> raw(offset + (height - 1) * pitch + width);
    for (uint8_t& b : raw) {
        b = static_cast<uint8_t>(random());
    }
    Write(Path("frame.raw"), raw);

    Settings s;
    s.phase = 3;
    s.gains[0] = 200, s.gains[1] = 100, s.gains[2] = 300;
    s.hue = 40;
    s.contrast = 14;
    const ToolRun run = Convert("--width 37 --height 21 --pitch 45 --offset 13 --phase 3 "
                                "--gains 200,100,300 --hue 40 --contrast 14 --print-gains " +
                                Path("frame.raw") + " " + Path("out.bgra"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "gains 200 100 300\n");
    LONG gains[3];
    const std::vector<uint8_t> expected =
        LibraryConvert(raw, width, height, offset, pitch, s, gains);
    const std::string written = Read(Path("out.bgra"));
    ASSERT_EQ(written.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                           reinterpret_cast<const uint8_t*>(written.data())));

    // White balance: the gains printed are the ones found and used.
    s.awb = true;
    const ToolRun balanced = Convert("--width 37 --height 21 --pitch 45 --offset 13 --phase 3 "
                                     "--gains 200,100,300 --hue 40 --contrast 14 --awb "
                                     "--print-gains " +
                                     Path("frame.raw") + " " + Path("awb.bgra"));
    ASSERT_EQ(balanced.exitCode, 0) << balanced.err;
    const std::vector<uint8_t> expectedBalanced =
        LibraryConvert(raw, width, height, offset, pitch, s, gains);
    EXPECT_EQ(balanced.out, "gains " + std::to_string(gains[0]) + " " + std::to_string(gains[1]) +
                                " " + std::to_string(gains[2]) + "\n");
    const std::string writtenBalanced = Read(Path("awb.bgra"));
    ASSERT_EQ(writtenBalanced.size(), expectedBalanced.size());
    EXPECT_TRUE(std::equal(expectedBalanced.begin(), expectedBalanced.end(),
                           reinterpret_cast<const uint8_t*>(writtenBalanced.data())));
}

TEST_F(ConvertToolTest, PgmAndMosaicInputsGivePngPictures) {
    const imaging::RgbImage scene = imaging::Gradient(48, 30);
    const std::vector<uint8_t> mosaic = imaging::Mosaic(scene, 1);
    std::string pgm = "P5\n# a comment\n48 30\n255\n";
    pgm.append(mosaic.begin(), mosaic.end());
    Write(Path("frame.pgm"), std::vector<uint8_t>(pgm.begin(), pgm.end()));
    std::string error;
    ASSERT_TRUE(imaging::WritePng(Path("scene.png"), scene, error)) << error;

    Settings s;
    s.phase = 1;
    s.mono = true;
    LONG gains[3];
    const imaging::RgbImage expected =
        imaging::FromBgra(LibraryConvert(mosaic, 48, 30, 0, 48, s, gains).data(), 48, 30, 48 * 4);
    for (const std::string& args :
         {"--phase 1 --mono " + Path("frame.pgm") + " " + Path("pgm.png"),
          "--phase 1 --mono --mosaic " + Path("scene.png") + " " + Path("mosaic.png")}) {
        const ToolRun run = Convert(args);
        ASSERT_EQ(run.exitCode, 0) << args << "\n" << run.err;
    }
    for (const char* name : {"pgm.png", "mosaic.png"}) {
        imaging::RgbImage picture;
        ASSERT_TRUE(imaging::ReadPng(Path(name), picture, error)) << error;
        EXPECT_EQ(picture.width, 48);
        EXPECT_EQ(picture.height, 30);
        EXPECT_EQ(picture.pixels, expected.pixels) << name;
    }
}

// Each vector path the processor runs gives the same bytes; one it lacks is refused.
TEST_F(ConvertToolTest, EveryIsaGivesTheSameFrame) {
    std::mt19937 random(9);
    std::vector<uint8_t> raw(77 * 19);
    for (uint8_t& b : raw) {
        b = static_cast<uint8_t>(random());
    }
    Write(Path("frame.raw"), raw);
    const std::string frame =
        "--width 77 --height 19 --phase 1 --awb --hue 30 " + Path("frame.raw");
    ASSERT_EQ(Convert(frame + " " + Path("auto.bgra")).exitCode, 0);
    const std::string expected = Read(Path("auto.bgra"));
    ASSERT_EQ(expected.size(), 77u * 19 * 4);

    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState();
    const ULONG supported = state->SupportedPaths();
    delete state;
    for (int k = 0; k < zyn::kVectorPaths; ++k) {
        const auto path = static_cast<zyn::VectorPath>(k);
        const std::string isa = zyn::VectorPathName(path);
        const ToolRun run = Convert("--isa " + isa + " " + frame + " " + Path(isa + ".bgra"));
        if (supported & zyn::VectorPathBit(path)) {
            ASSERT_EQ(run.exitCode, 0) << isa << ": " << run.err;
            EXPECT_EQ(Read(Path(isa + ".bgra")), expected) << isa;
        } else {
            std::printf("[ SKIPPED  ] --isa %s: this processor or system lacks it\n", isa.c_str());
            EXPECT_EQ(run.exitCode, 2) << isa;
            EXPECT_NE(run.err.find("cannot run it"), std::string::npos) << run.err;
        }
    }
}

} // namespace
