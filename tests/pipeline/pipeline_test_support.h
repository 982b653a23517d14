// Helpers shared by the pipeline tests: a colour state in pool with its buffers, and random
// frames.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "driver/pipeline/color_state.h"
#include "tests/pipeline/reference_conversion.h"

namespace pipeline_test {

constexpr uint8_t kCanary = 0x5A;
constexpr size_t kCanaryBytes = 64;

// A colour state as the pin creates it, with a working buffer and an output buffer followed
// by canary bytes that the conversion must never touch.
class ConversionSetup {
public:
    explicit ConversionSetup(int width, int height,
                             const zyn::ColorStateTraits& traits = zyn::ColorStateTraits{})
        : width_(width), height_(height),
          output_(static_cast<size_t>(width) * height * 4 + kCanaryBytes, kCanary) {
        state_ = new (NonPagedPool) zyn::ColorState(traits);
        state_->SetFrameSize(width, height);
        EXPECT_EQ(state_->AllocateWorkBuffer(), STATUS_SUCCESS);
        state_->SetOutputBuffer(output_.data());
    }
    ~ConversionSetup() { delete state_; }
    ConversionSetup(const ConversionSetup&) = delete;
    ConversionSetup& operator=(const ConversionSetup&) = delete;

    zyn::ColorState& State() { return *state_; }

    // Colour correction off: a uniform frame of Bayer phase `phase` comes back in its own colours.
    void Uncorrected(int phase) {
        state_->SetBayerPhase(phase);
        state_->SetColorCorrection(0);
    }
    void SetGains(long red, long green, long blue) {
        state_->SetRedGain(red);
        state_->SetGreenGain(green);
        state_->SetBlueGain(blue);
    }
    // The red, green and blue gains the state holds.
    std::array<long, 3> Gains() const {
        return {state_->GetRedGain(), state_->GetGreenGain(), state_->GetBlueGain()};
    }

    void Convert(const std::vector<uint8_t>& raw, size_t offset = 0, size_t pitch = 0) {
        zyn::ConvertFrame(state_, raw.data(), static_cast<ULONG>(offset),
                          static_cast<ULONG>(pitch == 0 ? width_ : pitch));
    }

    // Output pixel (x, y) as blue, green, red, alpha.
    std::array<uint8_t, 4> Pixel(int x, int y) const {
        const uint8_t* p = &output_[(static_cast<size_t>(y) * width_ + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
    std::vector<uint8_t> Output() const {
        return std::vector<uint8_t>(output_.begin(), output_.end() - kCanaryBytes);
    }
    bool CanaryIntact() const {
        for (size_t i = output_.size() - kCanaryBytes; i < output_.size(); ++i) {
            if (output_[i] != kCanary) {
                return false;
            }
        }
        return true;
    }

    // The reference settings that match the colour state's current ones.
    reference::Settings ReferenceSettings() {
        reference::Settings s;
        s.phase = state_->GetBayerPhase();
        s.color = state_->GetColorEnable() != 0;
        s.whiteBalance = state_->GetWhiteBalance() != 0;
        s.redGain = state_->GetRedGain();
        s.greenGain = state_->GetGreenGain();
        s.blueGain = state_->GetBlueGain();
        s.dotThreshold = state_->GetDotThreshold();
        LONG matrix[16];
        state_->CopyFixedMatrix(matrix);
        for (int k = 0; k < 16; ++k) {
            s.matrix[k] = matrix[k];
        }
        return s;
    }

private:
    int width_, height_;
    std::vector<uint8_t> output_;
    zyn::ColorState* state_ = nullptr;
};

// A Bayer frame of a picture whose colours are the same everywhere.
inline std::vector<uint8_t> UniformColourFrame(int width, int height, int phase, int red, int green,
                                               int blue) {
    // Colour of (x, y) per phase: GRBG, BGGR, RGGB, GBRG as red/green/blue indices.
    static const int kCells[4][4] = {{1, 0, 2, 1}, {2, 1, 1, 0}, {0, 1, 1, 2}, {1, 2, 0, 1}};
    const int values[3] = {red, green, blue};
    std::vector<uint8_t> raw(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            raw[static_cast<size_t>(y) * width + x] =
                static_cast<uint8_t>(values[kCells[phase][(y & 1) * 2 + (x & 1)]]);
        }
    }
    return raw;
}

inline std::vector<uint8_t> RandomBytes(size_t count, std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) {
        b = static_cast<uint8_t>(byte(random));
    }
    return bytes;
}

} // namespace pipeline_test
