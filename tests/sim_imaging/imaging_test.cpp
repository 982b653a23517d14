#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "sim/imaging/bayer.h"
#include "sim/imaging/png_file.h"
#include "sim/imaging/scenes.h"

namespace {

TEST(Bayer, PhaseTableMatchesTheFilterNames) {
    using imaging::Channel;
    // GRBG, BGGR, RGGB, GBRG: first row's two samples, then the second row's.
    const char* names[4] = {"GRBG", "BGGR", "RGGB", "GBRG"};
    for (int phase = 0; phase < 4; ++phase) {
        std::string seen;
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 2; ++x) {
                seen += "RGB"[static_cast<int>(imaging::BayerChannel(phase, x, y))];
            }
        }
        EXPECT_EQ(seen, names[phase]) << "phase " << phase;
        // The pattern repeats every two samples in both directions.
        EXPECT_EQ(imaging::BayerChannel(phase, 5, 7), imaging::BayerChannel(phase, 1, 1));
    }
}

TEST(Bayer, MosaicTakesEachSampleFromItsFilterColour) {
    imaging::RgbImage image(4, 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            image.At(x, y)[0] = 10;
            image.At(x, y)[1] = 20;
            image.At(x, y)[2] = 30;
        }
    }
    const auto raw = imaging::Mosaic(image, 2); // RGGB
    const std::vector<uint8_t> expected = {10, 20, 10, 20, 20, 30, 20, 30};
    EXPECT_EQ(raw, expected);
}

TEST(Scenes, AreAsymmetricInBothDirections) {
    for (const auto& scene : {imaging::ColorBars(64, 48), imaging::Gradient(64, 48)}) {
        bool mirrorDiffers = false, flipDiffers = false;
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 64; ++x) {
                for (int c = 0; c < 3; ++c) {
                    mirrorDiffers |= scene.At(x, y)[c] != scene.At(63 - x, y)[c];
                    flipDiffers |= scene.At(x, y)[c] != scene.At(x, 47 - y)[c];
                }
            }
        }
        EXPECT_TRUE(mirrorDiffers);
        EXPECT_TRUE(flipDiffers);
    }
}

TEST(PngFile, RoundTripAndClearErrors) {
    const auto scene = imaging::Gradient(37, 21);
    const std::string path = ::testing::TempDir() + "imaging_round_trip.png";
    std::string error;
    ASSERT_TRUE(imaging::WritePng(path, scene, error)) << error;
    imaging::RgbImage back;
    ASSERT_TRUE(imaging::ReadPng(path, back, error)) << error;
    EXPECT_EQ(back.width, 37);
    EXPECT_EQ(back.height, 21);
    EXPECT_EQ(back.pixels, scene.pixels);
    std::remove(path.c_str());

    EXPECT_FALSE(imaging::ReadPng("/nonexistent/none.png", back, error));
    EXPECT_NE(error.find("/nonexistent/none.png"), std::string::npos);
    EXPECT_FALSE(imaging::WritePng("/nonexistent/dir/out.png", scene, error));
}

} // namespace
