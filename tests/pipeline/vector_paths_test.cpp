// Every vector path against the one-pixel-at-a-time reference, byte for byte, and how a frame
// chooses its path. Paths this processor lacks are skipped, and the output says so.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "driver/pipeline/color_state.h"
#include "tests/pipeline/pipeline_test_support.h"
#include "tests/pipeline/reference_conversion.h"
#include "tests/support/verified_test.h"

namespace {

using pipeline_test::ConversionSetup;
using zyn::VectorPath;

constexpr VectorPath kPaths[] = {VectorPath::Sse2, VectorPath::Avx2, VectorPath::Avx512};

class VectorPathsTest : public sim::testing::VerifiedTest {
protected:
    void TearDown() override {
        sim::SetExtendedStateSaveFails(false);
        sim::HideProcessorFeature(PF_AVX2_INSTRUCTIONS_AVAILABLE, false);
        VerifiedTest::TearDown();
    }

    // The paths this processor runs; prints the ones it skips.
    static std::vector<VectorPath> Available(const zyn::ColorState& state) {
        std::vector<VectorPath> paths;
        for (VectorPath path : kPaths) {
            if (state.SupportedPaths() & zyn::VectorPathBit(path)) {
                paths.push_back(path);
            } else {
                std::printf("[ SKIPPED  ] the %s path: this processor or system lacks it\n",
                            zyn::VectorPathName(path));
            }
        }
        return paths;
    }
};

// What a case exercises besides phase, white balance and dot filter: which of the colour
// routines' forms (16-bit sums with the zero products left out or not, 32-bit sums), and
// gains of 128 against others, or grey.
enum class Mode { ColourUnitGains, ColourGains, ColourWideSums, GreyUnitGains, GreyGains };
constexpr Mode kModes[] = {Mode::ColourUnitGains, Mode::ColourGains, Mode::ColourWideSums,
                           Mode::GreyUnitGains, Mode::GreyGains};

void Configure(zyn::ColorState& state, Mode mode, int phase, bool balance, bool dots,
               std::mt19937& random) {
    const long gains[] = {0, 1, 100, 128, 255, 256, 400, 65536};
    std::uniform_int_distribution<size_t> pick(0, std::size(gains) - 1);
    const bool unit = mode == Mode::ColourUnitGains || mode == Mode::GreyUnitGains;
    state.SetBayerPhase(phase);
    state.SetColorEnable(mode == Mode::GreyUnitGains || mode == Mode::GreyGains ? 0 : 1);
    state.SetWhiteBalance(balance ? 1 : 0);
    state.SetRedGain(unit ? 128 : gains[pick(random)]);
    state.SetGreenGain(unit ? 128 : gains[pick(random)]);
    state.SetBlueGain(unit ? 128 : gains[pick(random)]);
    // Default correction: every diagonal entry positive, the rest negative. Hue 90 puts
    // positive entries off the diagonal; raised contrast and saturation need 32-bit sums.
    state.SetHue(mode == Mode::ColourGains ? 90 : 0);
    state.SetContrast(mode == Mode::ColourWideSums ? 20 : 10);
    state.SetSaturation(mode == Mode::ColourWideSums ? 20 : 10);
    state.SetBrightness(mode == Mode::ColourWideSums ? 510 : 255);
    state.SetDotThreshold(dots ? 20 : 0);
}

// Converts the frame (rows of `width` bytes from `offset`, `pitch` apart) with every path and
// compares each with the reference; returns the number of conversions compared.
int CompareEveryPath(ConversionSetup& setup, const std::vector<VectorPath>& paths,
                     const std::vector<uint8_t>& raw, int width, int height, size_t offset = 0,
                     size_t pitch = 0) {
    zyn::ColorState& state = setup.State();
    const reference::Settings settings = setup.ReferenceSettings();
    pitch = pitch == 0 ? static_cast<size_t>(width) : pitch;
    const reference::Result expected = reference::Convert(
        raw.data(), static_cast<ULONG>(offset), static_cast<ULONG>(pitch), width, height, settings);
    int compared = 0;
    for (VectorPath path : paths) {
        // White balance replaces the gains: every path starts from the same ones.
        state.SetRedGain(settings.redGain);
        state.SetGreenGain(settings.greenGain);
        state.SetBlueGain(settings.blueGain);
        EXPECT_EQ(state.RequestVectorPath(path), STATUS_SUCCESS);
        setup.Convert(raw, offset, pitch);
        SCOPED_TRACE(testing::Message()
                     << zyn::VectorPathName(path) << " " << width << "x" << height << " phase "
                     << settings.phase << " colour " << settings.color << " balance "
                     << settings.whiteBalance << " dots " << settings.dotThreshold);
        EXPECT_EQ(state.LastFramePath(), path);
        EXPECT_TRUE(setup.CanaryIntact());
        const std::vector<uint8_t> output = setup.Output();
        for (size_t i = 0; i < output.size(); ++i) {
            if (output[i] != expected.bgra[i]) {
                ADD_FAILURE() << "pixel " << (i / 4) % width << "," << (i / 4) / width << " byte "
                              << i % 4 << ": " << int(output[i]) << " instead of "
                              << int(expected.bgra[i]);
                return compared;
            }
        }
        EXPECT_EQ(state.GetRedGain(), expected.redGain);
        EXPECT_EQ(state.GetBlueGain(), expected.blueGain);
        ++compared;
    }
    return compared;
}

// Widths 1 to 200, around every multiple of 64 up to 1088 and the two sensor widths, each in
// every phase and form (gain kinds and sums), with and without white balance and dot filter.
TEST_F(VectorPathsTest, EveryPathMatchesTheReferenceAtEveryWidth) {
    std::vector<int> widths;
    for (int w = 1; w <= 200; ++w) {
        widths.push_back(w);
    }
    for (int m = 256; m <= 1088; m += 64) {
        widths.insert(widths.end(), {m - 1, m, m + 1});
    }
    widths.insert(widths.end(), {1359, 1360, 1361, 2447, 2448, 2449});

    std::mt19937 random(77);
    int compared = 0;
    int frames = 0;
    std::vector<VectorPath> paths;
    for (int width : widths) {
        // Heights from 1 to 10: frames under 8 rows have no border, and none under 5 rows a
        // dot filter.
        const int height = 1 + width % 10;
        ConversionSetup setup(width, height);
        if (paths.empty()) {
            paths = Available(setup.State());
        }
        // Every phase and form at every width up to 200; the four combinations of white balance
        // and dot filter take turns, so that each meets every phase and form across the widths.
        // Past 200 pixels, where only the row tails are new, each form in one phase, the phase
        // turning from width to width.
        for (int m = 0; m < static_cast<int>(std::size(kModes)); ++m) {
            const int phases = width <= 200 ? 4 : 1;
            for (int p = 0; p < phases; ++p, ++frames) {
                const int phase = width <= 200 ? p : (width + m) % 4;
                const int variant = (width + m + phase) % 4;
                Configure(setup.State(), kModes[m], phase, variant & 1, variant & 2, random);
                // The rows are read where they lie in the raw frame: some frames start past
                // its beginning and have bytes between their rows that must not be seen. The
                // frame's last byte is the buffer's last.
                const size_t gap = static_cast<size_t>((width + m) % 3) * 5;
                const size_t offset = gap == 0 ? 0 : 3;
                const size_t pitch = static_cast<size_t>(width) + gap;
                const std::vector<uint8_t> raw = pipeline_test::RandomBytes(
                    offset + (height - 1) * pitch + static_cast<size_t>(width), random);
                compared += CompareEveryPath(setup, paths, raw, width, height, offset, pitch);
                if (HasFailure()) {
                    return;
                }
            }
        }
    }
    std::printf("compared %d conversions: %d frames of %zu widths with %zu paths\n", compared,
                frames, widths.size(), paths.size());
    EXPECT_EQ(compared, frames * static_cast<int>(paths.size()));
}

// Whole sensor frames of the two sizes, with a picture rather than noise.
TEST_F(VectorPathsTest, EveryPathMatchesTheReferenceAtBothSensorSizes) {
    struct Frame {
        int width, height, phase;
        Mode mode;
        bool balance;
    };
    const Frame frames[] = {{1360, 1024, 2, Mode::ColourUnitGains, true},
                            {2448, 2048, 1, Mode::GreyGains, false}};
    std::mt19937 random(5);
    for (const Frame& f : frames) {
        ConversionSetup setup(f.width, f.height);
        Configure(setup.State(), f.mode, f.phase, f.balance, false, random);
        std::vector<uint8_t> raw(static_cast<size_t>(f.width) * f.height);
        for (int y = 0; y < f.height; ++y) {
            for (int x = 0; x < f.width; ++x) {
                raw[static_cast<size_t>(y) * f.width + x] =
                    static_cast<uint8_t>((x * 7 + y * 3 + (x * y) / 97) & 0xFF);
            }
        }
        const std::vector<VectorPath> paths = Available(setup.State());
        EXPECT_EQ(CompareEveryPath(setup, paths, raw, f.width, f.height),
                  static_cast<int>(paths.size()));
    }
}

// Output rows a whole number of 64-byte lines apart are written past the caches, from a line
// in each row. A client frame whose rows lie further apart than their pixels need, top-down or
// bottom-up, starting on a line, a number of pixel pairs into one, or halfway through a pair
// (not streamed), gets that at every width (white balance's second pass included), and the
// bytes between its rows stay as they were.
TEST_F(VectorPathsTest, RowsAnywhereInALineMatchTheReferenceAndLeaveTheGapsAlone) {
    std::mt19937 random(91);
    std::vector<VectorPath> paths;
    int compared = 0;
    int frames = 0;
    for (int width = 1; width <= 150; ++width, ++frames) {
        const int height = 1 + width % 9;
        ConversionSetup setup(width, height);
        zyn::ColorState& state = setup.State();
        if (paths.empty()) {
            paths = Available(state);
        }
        Configure(state, kModes[width % std::size(kModes)], width % 4, (width / 5) % 2 == 0, false,
                  random);
        const reference::Settings settings = setup.ReferenceSettings();
        const std::vector<uint8_t> raw =
            pipeline_test::RandomBytes(static_cast<size_t>(width) * height, random);
        const reference::Result expected =
            reference::Convert(raw.data(), 0, static_cast<size_t>(width), width, height, settings);

        constexpr size_t kLine = 64;
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        const size_t rowStep = (rowBytes + kLine - 1) / kLine * kLine;
        constexpr size_t kIntoLine[] = {0, 8, 16, 24, 32, 40, 48, 56, 4};
        std::vector<uint8_t> storage(rowStep * height + 2 * kLine);
        const size_t lead = (kLine - reinterpret_cast<uintptr_t>(storage.data()) % kLine) % kLine +
                            kIntoLine[(width / 3) % std::size(kIntoLine)];
        uint8_t* const top = storage.data() + lead;
        const bool bottomUp = width % 2 == 1;
        auto rowAt = [&](int y) { return top + (bottomUp ? height - 1 - y : y) * rowStep; };
        for (VectorPath path : paths) {
            SCOPED_TRACE(testing::Message() << zyn::VectorPathName(path) << " width " << width
                                            << " balance " << settings.whiteBalance << " row start "
                                            << (lead % kLine) << " bytes into a line");
            state.SetRedGain(settings.redGain);
            state.SetGreenGain(settings.greenGain);
            state.SetBlueGain(settings.blueGain);
            EXPECT_EQ(state.RequestVectorPath(path), STATUS_SUCCESS);
            std::fill(storage.begin(), storage.end(), pipeline_test::kCanary);
            ASSERT_TRUE(zyn::ConvertFrameInto(
                &state, raw.data(), 0, static_cast<ULONG>(width), rowAt(0),
                bottomUp ? -static_cast<LONG_PTR>(rowStep) : static_cast<LONG_PTR>(rowStep)));
            for (int y = 0; y < height; ++y) {
                const uint8_t* row = rowAt(y);
                ASSERT_TRUE(std::equal(row, row + rowBytes, &expected.bgra[y * rowBytes]))
                    << "row " << y;
                ASSERT_TRUE(std::all_of(row + rowBytes, row + rowStep,
                                        [](uint8_t b) { return b == pipeline_test::kCanary; }))
                    << "after row " << y;
            }
            ASSERT_TRUE(std::all_of(storage.begin(), storage.begin() + lead,
                                    [](uint8_t b) { return b == pipeline_test::kCanary; }));
            EXPECT_EQ(state.GetRedGain(), expected.redGain);
            ++compared;
        }
    }
    std::printf("compared %d conversions into rows at 9 places in a line: %d frames with %zu "
                "paths\n",
                compared, frames, paths.size());
    EXPECT_EQ(compared, frames * static_cast<int>(paths.size()));
}

TEST_F(VectorPathsTest, TheWidestPathIsTheDefaultAndAMissingOneCannotBeRequested) {
    {
        ConversionSetup setup(40, 10);
        zyn::ColorState& state = setup.State();
        EXPECT_NE(state.SupportedPaths() & zyn::VectorPathBit(VectorPath::Sse2), 0u);
        setup.Convert(std::vector<uint8_t>(400, 90));
        EXPECT_EQ(state.LastFramePath(), zyn::WidestVectorPath(state.SupportedPaths()));
    }
    // A processor without AVX2 (the features hidden before the state is created).
    sim::HideProcessorFeature(PF_AVX2_INSTRUCTIONS_AVAILABLE, true);
    ConversionSetup setup(40, 10);
    zyn::ColorState& state = setup.State();
    EXPECT_EQ(state.SupportedPaths(), zyn::VectorPathBit(VectorPath::Sse2));
    EXPECT_EQ(state.RequestVectorPath(VectorPath::Avx2), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(state.RequestVectorPath(VectorPath::Avx512), STATUS_NOT_SUPPORTED);
    const uint64_t saves = sim::ExtendedStateSaves();
    setup.Convert(std::vector<uint8_t>(400, 90));
    EXPECT_EQ(state.LastFramePath(), VectorPath::Sse2);
    EXPECT_EQ(sim::ExtendedStateSaves(), saves);
    EXPECT_EQ(setup.Pixel(3, 3), (std::array<uint8_t, 4>{91, 90, 90, 255}));
}

// The wider paths save the extended state around the frame on the converting thread; a frame
// whose save fails takes SSE2 with the same result.
TEST_F(VectorPathsTest, WiderPathsRunInsideASaveAndTakeSse2WhenItFails) {
    ConversionSetup setup(100, 12);
    zyn::ColorState& state = setup.State();
    const VectorPath widest = zyn::WidestVectorPath(state.SupportedPaths());
    if (widest == VectorPath::Sse2) {
        GTEST_SKIP() << "this processor or system has no path wider than SSE2";
    }
    std::mt19937 random(3);
    const std::vector<uint8_t> raw = pipeline_test::RandomBytes(1200, random);
    state.SetWhiteBalance(1);
    const reference::Result expected =
        reference::Convert(raw.data(), 0, 100, 100, 12, setup.ReferenceSettings());

    const uint64_t saves = sim::ExtendedStateSaves();
    setup.Convert(raw);
    EXPECT_EQ(state.LastFramePath(), widest);
    EXPECT_EQ(sim::ExtendedStateSaves(), saves + 1);
    EXPECT_EQ(sim::OpenExtendedStateSaves(), 0);
    EXPECT_EQ(setup.Output(), expected.bgra);

    sim::SetExtendedStateSaveFails(true);
    std::vector<uint8_t> before = setup.Output();
    std::fill(before.begin(), before.end(), 0);
    setup.Convert(raw);
    EXPECT_EQ(state.LastFramePath(), VectorPath::Sse2);
    EXPECT_EQ(setup.Output(), expected.bgra);
    EXPECT_EQ(state.GetRedGain(), expected.redGain);
    sim::SetExtendedStateSaveFails(false);
    setup.Convert(raw);
    EXPECT_EQ(state.LastFramePath(), widest);
}

// The 32-bit driver (which saves the floating-point state) has SSE2 only.
TEST_F(VectorPathsTest, TheFloatingPointSavingDriverConvertsWithSse2) {
    zyn::ColorStateTraits traits;
    traits.saveFloatingPoint = true;
    ConversionSetup setup(40, 10, traits);
    EXPECT_EQ(setup.State().SupportedPaths(), zyn::VectorPathBit(VectorPath::Sse2));
    const uint64_t saves = sim::ExtendedStateSaves();
    setup.Convert(std::vector<uint8_t>(400, 90));
    EXPECT_EQ(setup.State().LastFramePath(), VectorPath::Sse2);
    EXPECT_EQ(sim::ExtendedStateSaves(), saves);
}

} // namespace
