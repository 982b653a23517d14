#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "driver/pipeline/color_state.h"
#include "driver/pipeline/white_balance.h"
#include "tests/pipeline/pipeline_test_support.h"
#include "tests/pipeline/reference_conversion.h"
#include "tests/support/verified_test.h"

namespace {

using pipeline_test::ConversionSetup;
using pipeline_test::UniformColourFrame;
using Pixel = std::array<uint8_t, 4>;
using Gains = std::array<long, 3>;

class ConvertFrameTest : public sim::testing::VerifiedTest {
protected:
    void TearDown() override {
        sim::SetFloatingPointSaveFails(false);
        VerifiedTest::TearDown();
    }
};

struct Geometry {
    int width, height;
    size_t offset, extraPitch;
};

long Pick(std::mt19937& random, std::initializer_list<long> choices, long low, long high) {
    std::uniform_int_distribution<size_t> which(0, choices.size());
    const size_t k = which(random);
    if (k == choices.size()) {
        return std::uniform_int_distribution<long>(low, high)(random);
    }
    return *(choices.begin() + k);
}

// Random frames, geometries and settings against the one-pixel-at-a-time reference.
TEST_F(ConvertFrameTest, MatchesTheReferenceBitForBit) {
    const Geometry geometries[] = {
        {1000, 9, 0, 0}, {1000, 8, 13, 24}, {64, 17, 5, 3}, {33, 10, 0, 0}, {16, 8, 0, 0},
        {15, 11, 7, 1},  {8, 8, 0, 0},      {7, 7, 0, 0},   {5, 12, 2, 9},  {12, 3, 0, 2},
        {9, 2, 0, 0},    {2, 9, 1, 0},      {1, 1, 0, 0},   {31, 5, 0, 17},
    };
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> bit(0, 1), third(0, 2);
    int cases = 0;
    for (const Geometry& g : geometries) {
        for (int phase = 0; phase < 4; ++phase) {
            for (int round = 0; round < 5; ++round, ++cases) {
                ConversionSetup setup(g.width, g.height);
                zyn::ColorState& state = setup.State();
                state.SetBayerPhase(phase);
                state.SetColorEnable(round == 0 ? 1 : bit(random));
                state.SetWhiteBalance(third(random) == 0);
                const std::initializer_list<long> gains = {0,   1,     128,   255,   256,
                                                           512, 65535, 65536, 70000, 1L << 24};
                state.SetRedGain(Pick(random, gains, 0, 600));
                state.SetGreenGain(Pick(random, gains, 0, 600));
                state.SetBlueGain(Pick(random, gains, 0, 600));
                state.SetColorCorrection(bit(random));
                state.SetBrightness(Pick(random, {0, 255, 510, 600}, 0, 510));
                state.SetContrast(Pick(random, {0, 10, 20, 25}, 0, 20));
                state.SetSaturation(Pick(random, {0, 10, 20, 25}, 0, 20));
                state.SetHue(Pick(random, {0, 90, 180, 359}, 0, 359));
                state.SetDotThreshold(third(random) == 0 ? Pick(random, {1, 255}, 1, 60) : 0);

                const size_t pitch = g.width + g.extraPitch;
                const std::vector<uint8_t> raw =
                    pipeline_test::RandomBytes(g.offset + (g.height - 1) * pitch + g.width, random);
                const reference::Settings settings = setup.ReferenceSettings();
                setup.Convert(raw, g.offset, pitch);
                const reference::Result expected =
                    reference::Convert(raw.data(), g.offset, pitch, g.width, g.height, settings);

                SCOPED_TRACE(testing::Message()
                             << g.width << "x" << g.height << " offset " << g.offset << " pitch "
                             << pitch << " phase " << phase << " colour " << settings.color
                             << " balance " << settings.whiteBalance << " dots "
                             << settings.dotThreshold << " gains " << settings.redGain << ","
                             << settings.greenGain << "," << settings.blueGain);
                const std::vector<uint8_t> output = setup.Output();
                ASSERT_TRUE(setup.CanaryIntact());
                for (size_t i = 0; i < output.size(); ++i) {
                    ASSERT_EQ(output[i], expected.bgra[i])
                        << "pixel " << (i / 4) % g.width << "," << (i / 4) / g.width << " byte "
                        << i % 4;
                }
                EXPECT_EQ(setup.Gains(),
                          (Gains{expected.redGain, expected.greenGain, expected.blueGain}));
            }
        }
    }
    EXPECT_EQ(cases, 14 * 4 * 5);
}

TEST_F(ConvertFrameTest, UniformFramesKeepTheirValueInEveryPhase) {
    for (int phase = 0; phase < 4; ++phase) {
        for (int value : {0, 1, 77, 200, 255}) {
            ConversionSetup setup(40, 10);
            setup.Uncorrected(phase);
            setup.Convert(std::vector<uint8_t>(400, static_cast<uint8_t>(value)));
            const auto v = static_cast<uint8_t>(value);
            for (int y = 0; y < 10; ++y) {
                for (int x = 0; x < 40; ++x) {
                    ASSERT_EQ(setup.Pixel(x, y), (Pixel{v, v, v, 255}))
                        << "phase " << phase << " value " << value << " at " << x << "," << y;
                }
            }
        }
        // Each colour plane comes back exactly: every kernel has unit gain.
        ConversionSetup setup(40, 10);
        setup.Uncorrected(phase);
        setup.Convert(UniformColourFrame(40, 10, phase, 200, 90, 30));
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 40; ++x) {
                ASSERT_EQ(setup.Pixel(x, y), (Pixel{30, 90, 200, 255})) << x << "," << y;
            }
        }
    }
}

TEST_F(ConvertFrameTest, DefaultCorrectionKeepsGreyGreyButForBlue) {
    const std::pair<int, Pixel> cases[] = {
        {128, {130, 128, 128, 255}}, {64, {65, 64, 64, 255}}, {255, {255, 255, 255, 255}}};
    for (const auto& [grey, expected] : cases) {
        ConversionSetup setup(24, 12);
        setup.State().SetBayerPhase(2);
        setup.Convert(std::vector<uint8_t>(24 * 12, static_cast<uint8_t>(grey)));
        EXPECT_EQ(setup.Pixel(0, 0), expected) << grey;
        EXPECT_EQ(setup.Pixel(23, 11), expected) << grey;
    }
}

TEST_F(ConvertFrameTest, GreyModeWeighsAndTruncatesEachChannel) {
    ConversionSetup setup(20, 8);
    setup.State().SetColorEnable(0);
    setup.Convert(std::vector<uint8_t>(160, 255));
    EXPECT_EQ(setup.Pixel(5, 5), (Pixel{253, 253, 253, 255}));
    // The matrix settings have no effect in grey mode.
    setup.State().SetBrightness(0);
    setup.State().SetContrast(20);
    setup.Convert(std::vector<uint8_t>(160, 255));
    EXPECT_EQ(setup.Pixel(19, 7), (Pixel{253, 253, 253, 255}));
}

TEST_F(ConvertFrameTest, GainsScaleLimitAndNeverWrap) {
    ConversionSetup setup(32, 8);
    setup.Uncorrected(2);
    setup.SetGains(256, 128, 0);
    setup.Convert(UniformColourFrame(32, 8, 2, 100, 90, 80));
    EXPECT_EQ(setup.Pixel(3, 3), (Pixel{0, 90, 200, 255}));
    setup.Convert(UniformColourFrame(32, 8, 2, 200, 90, 80));
    EXPECT_EQ(setup.Pixel(3, 3), (Pixel{0, 90, 255, 255}));

    // 70000 taken modulo 65536 would be 4464, making a red of 1 come out as 34; it is used as
    // 65535 and the state keeps the value it was given.
    setup.SetGains(70000, 128, 128);
    setup.Convert(UniformColourFrame(32, 8, 2, 1, 90, 80));
    EXPECT_EQ(setup.Pixel(3, 3), (Pixel{80, 90, 255, 255}));
    EXPECT_EQ(setup.Gains(), (Gains{70000, 128, 128}));
}

// With contrast and saturation raised, the colour matrix sums exceed 16 bits for bright
// pixels; the result must be the exact one, neither wrapped into dark nor clipped into a tint.
TEST_F(ConvertFrameTest, BrightPixelsStayBrightWhenMatrixSumsOverflow) {
    for (int correction : {0, 1}) {
        ConversionSetup setup(32, 8);
        zyn::ColorState& state = setup.State();
        state.SetColorCorrection(correction);
        state.SetContrast(20);
        state.SetSaturation(20);
        state.SetBrightness(510);
        setup.Convert(std::vector<uint8_t>(256, 255));
        EXPECT_EQ(setup.Pixel(7, 4), (Pixel{255, 255, 255, 255})) << correction;
        setup.Convert(UniformColourFrame(32, 8, 0, 250, 250, 160));
        const Pixel p = setup.Pixel(7, 4);
        EXPECT_EQ(p[2], 255) << correction;
        EXPECT_EQ(p[1], 255) << correction;
    }
}

TEST_F(ConvertFrameTest, WhiteBalanceEqualisesTheColourSums) {
    ConversionSetup setup(48, 16);
    zyn::ColorState& state = setup.State();
    setup.Uncorrected(1);
    state.SetWhiteBalance(1);

    setup.Convert(std::vector<uint8_t>(48 * 16, 90));
    EXPECT_EQ(setup.Gains(), (Gains{128, 128, 128}));

    // Red half the green, blue a quarter: gains 256 and 512, used for this very frame.
    setup.Convert(UniformColourFrame(48, 16, 1, 50, 100, 25));
    EXPECT_EQ(setup.Gains(), (Gains{256, 128, 512}));
    EXPECT_EQ(setup.Pixel(10, 10), (Pixel{100, 100, 100, 255}));

    // A manual gain set meanwhile is replaced by the next frame's; once balancing stops the
    // last balanced gains stay.
    state.SetRedGain(40);
    setup.Convert(UniformColourFrame(48, 16, 1, 50, 100, 25));
    EXPECT_EQ(state.GetRedGain(), 256);
    state.SetWhiteBalance(0);
    setup.Convert(UniformColourFrame(48, 16, 1, 100, 100, 100));
    EXPECT_EQ(setup.Gains(), (Gains{256, 128, 512}));
}

TEST_F(ConvertFrameTest, WhiteBalanceKeepsTheGainsWhenAColourIsMissing) {
    ConversionSetup setup(32, 8);
    zyn::ColorState& state = setup.State();
    state.SetWhiteBalance(1);
    setup.SetGains(200, 128, 90);
    setup.Convert(UniformColourFrame(32, 8, 0, 0, 120, 60)); // no red at all
    EXPECT_EQ(setup.Gains(), (Gains{200, 128, 90}));
    setup.Convert(std::vector<uint8_t>(256, 0)); // black
    EXPECT_EQ(setup.Gains(), (Gains{200, 128, 90}));
}

TEST(WhiteBalanceGains, RatiosTruncateAndStayInRange) {
    LONG red = 0, green = 0, blue = 0;
    ASSERT_TRUE(zyn::WhiteBalanceGains(1000, 1000, 1000, &red, &green, &blue));
    EXPECT_EQ(red, 128);
    EXPECT_EQ(green, 128);
    EXPECT_EQ(blue, 128);
    ASSERT_TRUE(zyn::WhiteBalanceGains(500, 1000, 3000, &red, &green, &blue));
    EXPECT_EQ(red, 256);
    EXPECT_EQ(blue, 42); // 42.67 truncated
    ASSERT_TRUE(zyn::WhiteBalanceGains(100, 51200, 100, &red, &green, &blue));
    EXPECT_EQ(red, 65536);
    ASSERT_TRUE(zyn::WhiteBalanceGains(1, 0xFFFFFFFFu, 1, &red, &green, &blue));
    EXPECT_EQ(red, 2147483647); // beyond the 32-bit range: limited, not undefined
    red = green = blue = -1;
    EXPECT_FALSE(zyn::WhiteBalanceGains(0, 10, 10, &red, &green, &blue));
    EXPECT_FALSE(zyn::WhiteBalanceGains(10, 0, 10, &red, &green, &blue));
    EXPECT_FALSE(zyn::WhiteBalanceGains(10, 10, 0, &red, &green, &blue));
    EXPECT_EQ(red, -1);
}

TEST_F(ConvertFrameTest, DotFilterReplacesOnlyDotsAtTheThreshold) {
    for (int excess : {30, 29}) {
        ConversionSetup setup(24, 12);
        zyn::ColorState& state = setup.State();
        state.SetDotThreshold(30);
        std::vector<uint8_t> raw(24 * 12, 100);
        raw[6 * 24 + 9] = static_cast<uint8_t>(100 + excess);
        setup.Convert(raw);
        const zyn::FrameSnapshot& frame = state.Snapshot();
        EXPECT_EQ(frame.imageOrigin[6 * frame.workPitch + 9], excess >= 30 ? 100 : 100 + excess);
        const std::vector<uint8_t> filtered = setup.Output();
        // Off, the dot reaches the picture.
        state.SetDotThreshold(0);
        setup.Convert(raw);
        EXPECT_EQ(setup.Output() != filtered, excess >= 30);
        EXPECT_NE(setup.Pixel(9, 6), setup.Pixel(9, 10));
    }
}

TEST_F(ConvertFrameTest, NothingIsTouchedWithoutBuffersOrFrame) {
    const std::vector<uint8_t> raw(16 * 8, 200);
    {
        ConversionSetup setup(16, 8);
        zyn::ConvertFrame(&setup.State(), nullptr, 0, 16);
        EXPECT_EQ(setup.Pixel(0, 0), (Pixel{0x5A, 0x5A, 0x5A, 0x5A}));
        setup.State().SetOutputBuffer(nullptr);
        setup.Convert(raw);
        EXPECT_EQ(setup.State().Snapshot().imageOrigin[0], 0); // not even copied
        setup.State().FreeWorkBuffer();
        zyn::ConvertFrame(nullptr, raw.data(), 0, 16);
    }
    ConversionSetup setup(16, 8);
    setup.State().FreeWorkBuffer();
    setup.Convert(raw);
    EXPECT_EQ(setup.Pixel(0, 0), (Pixel{0x5A, 0x5A, 0x5A, 0x5A}));
}

// The 32-bit x86 driver converts with the floating-point state saved; when it cannot be saved
// the frame is left alone and the gains are not balanced.
TEST_F(ConvertFrameTest, SavingDriverBracketsEachFrameAndSkipsItWhenTheSaveFails) {
    zyn::ColorStateTraits traits;
    traits.saveFloatingPoint = true;
    ConversionSetup setup(32, 8, traits);
    zyn::ColorState& state = setup.State();
    state.SetWhiteBalance(1);
    state.SetRedGain(300);
    const auto frame = UniformColourFrame(32, 8, 0, 50, 100, 100);

    sim::SetFloatingPointSaveFails(true);
    setup.Convert(frame);
    EXPECT_EQ(setup.Pixel(0, 0), (Pixel{0x5A, 0x5A, 0x5A, 0x5A}));
    EXPECT_EQ(state.GetRedGain(), 300);

    sim::SetFloatingPointSaveFails(false);
    const uint64_t saves = sim::FloatingPointSaves();
    setup.Convert(frame);
    EXPECT_EQ(sim::FloatingPointSaves(), saves + 1);
    EXPECT_EQ(sim::OpenFloatingPointSaves(), 0);
    EXPECT_EQ(state.GetRedGain(), 256);
    EXPECT_EQ(setup.Pixel(0, 0)[3], 255);
}

} // namespace
