#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "driver/pipeline/color_matrices.h"
#include "driver/pipeline/color_state.h"
#include "driver/pipeline/float_math.h"
#include "tests/pipeline/reference_conversion.h"
#include "tests/support/verified_test.h"

namespace {

using Fixed = std::array<long, 16>;

Fixed Published(const zyn::ColorState& state) {
    LONG matrix[16];
    state.CopyFixedMatrix(matrix);
    Fixed fixed;
    std::copy(matrix, matrix + 16, fixed.begin());
    return fixed;
}

Fixed Rows(std::array<long, 4> red, std::array<long, 4> green, std::array<long, 4> blue,
           std::array<long, 4> constant) {
    Fixed fixed;
    for (int j = 0; j < 4; ++j) {
        fixed[j] = red[j];
        fixed[4 + j] = green[j];
        fixed[8 + j] = blue[j];
        fixed[12 + j] = constant[j];
    }
    return fixed;
}

// Every setting the state stores, as its getters report them.
struct Stored {
    LONG phase, colorEnable, whiteBalance, red, green, blue, correction, brightness, contrast,
        saturation, hue, dotThreshold;
    bool operator==(const Stored&) const = default;
};

void PrintTo(const Stored& s, std::ostream* out) {
    *out << "phase " << s.phase << ", colour " << s.colorEnable << ", balance " << s.whiteBalance
         << ", gains " << s.red << "/" << s.green << "/" << s.blue << ", correction "
         << s.correction << ", brightness " << s.brightness << ", contrast " << s.contrast
         << ", saturation " << s.saturation << ", hue " << s.hue << ", dots " << s.dotThreshold;
}

Stored StoredSettings(const zyn::ColorState& state) {
    return {state.GetBayerPhase(),      state.GetColorEnable(), state.GetWhiteBalance(),
            state.GetRedGain(),         state.GetGreenGain(),   state.GetBlueGain(),
            state.GetColorCorrection(), state.GetBrightness(),  state.GetContrast(),
            state.GetSaturation(),      state.GetHue(),         state.GetDotThreshold()};
}

class ColorStateTest : public sim::testing::VerifiedTest {
protected:
    void TearDown() override {
        sim::SetFloatingPointSaveFails(false);
        sim::pool::ClearInjectedFailures();
        VerifiedTest::TearDown();
    }
};

TEST_F(ColorStateTest, CreatedWithTheDefaultsAndTheirMatrixInItsOwnPoolBlock) {
    const auto before = sim::pool::Counters(zyn::kTagColorState).liveBlocks;
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState();
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(sim::pool::Counters(zyn::kTagColorState).liveBlocks, before + 1);
    // Phase, colour, balance, gains, correction, brightness, contrast, saturation, hue, dots.
    EXPECT_EQ(StoredSettings(*state), (Stored{0, 1, 0, 128, 128, 128, 1, 255, 10, 10, 0, 0}));
    EXPECT_EQ(Published(*state),
              Rows({87, -16, -6, 0}, {-14, 90, -20, 0}, {-9, -10, 91, 0}, {0, 0, 0, 64}));
    delete state;
    EXPECT_EQ(sim::pool::Counters(zyn::kTagColorState).liveBlocks, before);
}

TEST_F(ColorStateTest, CreationFailsCleanlyWhenThePoolIsExhausted) {
    sim::pool::FailAllocationsWithTag(zyn::kTagColorState);
    EXPECT_EQ(new (NonPagedPool) zyn::ColorState(), nullptr);
}

struct SingleSetting {
    const char* name;
    void (zyn::ColorState::*setter)(LONG);
    LONG value;
    Fixed expected;
};

TEST_F(ColorStateTest, EachSettingAloneGivesItsMatrix) {
    const Fixed identity = Rows({64, 0, 0, 0}, {0, 64, 0, 0}, {0, 0, 64, 0}, {0, 0, 0, 64});
    const SingleSetting cases[] = {
        {"neutral", &zyn::ColorState::SetHue, 0, identity},
        {"brightness 0", &zyn::ColorState::SetBrightness, 0,
         Rows({64, 0, 0, 0}, {0, 64, 0, 0}, {0, 0, 64, 0}, {-16320, -16320, -16320, 64})},
        {"brightness 510", &zyn::ColorState::SetBrightness, 510,
         Rows({64, 0, 0, 0}, {0, 64, 0, 0}, {0, 0, 64, 0}, {16320, 16320, 16320, 64})},
        {"brightness 600 acts as 510", &zyn::ColorState::SetBrightness, 600,
         Rows({64, 0, 0, 0}, {0, 64, 0, 0}, {0, 0, 64, 0}, {16320, 16320, 16320, 64})},
        {"contrast 20", &zyn::ColorState::SetContrast, 20,
         Rows({128, 0, 0, 0}, {0, 128, 0, 0}, {0, 0, 128, 0}, {-8192, -8192, -8192, 64})},
        {"contrast 25 acts as 20", &zyn::ColorState::SetContrast, 25,
         Rows({128, 0, 0, 0}, {0, 128, 0, 0}, {0, 0, 128, 0}, {-8192, -8192, -8192, 64})},
        {"contrast 0", &zyn::ColorState::SetContrast, 0,
         Rows({0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {8192, 8192, 8192, 64})},
        {"saturation 0", &zyn::ColorState::SetSaturation, 0,
         Rows({20, 20, 20, 0}, {39, 39, 39, 0}, {5, 5, 5, 0}, {0, 0, 0, 64})},
        {"saturation 20", &zyn::ColorState::SetSaturation, 20,
         Rows({108, -20, -20, 0}, {-39, 89, -39, 0}, {-5, -5, 123, 0}, {0, 0, 0, 64})},
        {"hue 90", &zyn::ColorState::SetHue, 90,
         Rows({0, 37, -37, 0}, {10, 47, 84, 0}, {53, -21, 16, 0}, {0, 0, 0, 64})},
    };
    for (const SingleSetting& c : cases) {
        SCOPED_TRACE(c.name);
        zyn::ColorState* state = new (NonPagedPool) zyn::ColorState();
        state->SetColorCorrection(0);
        (state->*c.setter)(c.value);
        EXPECT_EQ(Published(*state), c.expected);
        // Back to neutral: the identity again.
        state->SetBrightness(255);
        state->SetContrast(10);
        state->SetSaturation(10);
        state->SetHue(0);
        EXPECT_EQ(Published(*state), identity);
        delete state;
    }
}

TEST_F(ColorStateTest, SettingsTogetherCombineInTheDefinedOrder) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> brightness(0, 600), ranged(0, 25), hue(0, 359), bit(0, 1);
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState();
    for (int i = 0; i < 300; ++i) {
        const long c = bit(random), b = brightness(random), k = ranged(random), s = ranged(random),
                   h = hue(random);
        state->SetColorCorrection(c);
        state->SetBrightness(b);
        state->SetContrast(k);
        state->SetSaturation(s);
        state->SetHue(h);
        ASSERT_EQ(Published(*state), reference::FixedMatrix(c, b, k, s, h))
            << "correction " << c << " brightness " << b << " contrast " << k << " saturation " << s
            << " hue " << h;
    }
    delete state;
}

bool WithinOneUlp(float a, float b) {
    return a == b || std::nextafter(a, b) == b;
}

// The Windows images compute sine and cosine themselves. The two may differ in the last bit
// where the true value lies half-way between two floats, but the matrices must come out the
// same in every build.
TEST(KernelSineCosine, GiveTheSameMatricesAsTheLibrary) {
    struct Others {
        LONG correction, brightness, contrast, saturation;
    };
    const Others others[] = {{1, 255, 10, 10}, {0, 255, 10, 10}, {1, 0, 20, 20},
                             {1, 510, 0, 5},   {0, 300, 15, 0},  {1, 100, 3, 17}};
    for (LONG hue = -360; hue <= 720; ++hue) {
        const float angle = zyn::HueAngle(hue);
        const float sine = zyn::KernelSineF(angle);
        const float cosine = zyn::KernelCosineF(angle);
        ASSERT_TRUE(WithinOneUlp(sine, sinf(angle))) << "hue " << hue;
        ASSERT_TRUE(WithinOneUlp(cosine, cosf(angle))) << "hue " << hue;
        for (const Others& o : others) {
            auto fixed = [&](float s, float c) {
                LONG matrix[16];
                zyn::ToFixedPoint(
                    zyn::CombineColorMatrices(
                        zyn::IdentityMatrix(), zyn::CorrectionMatrix(o.correction),
                        zyn::BrightnessMatrix(o.brightness), zyn::ContrastMatrix(o.contrast),
                        zyn::SaturationMatrix(o.saturation), zyn::HueRotationMatrix(s, c)),
                    matrix);
                return std::vector<LONG>(matrix, matrix + 16);
            };
            ASSERT_EQ(fixed(sine, cosine), fixed(sinf(angle), cosf(angle))) << "hue " << hue;
        }
    }
    std::mt19937 random(3);
    std::uniform_real_distribution<float> angles(-100.0f, 100.0f);
    for (int i = 0; i < 20000; ++i) {
        const float angle = angles(random);
        ASSERT_TRUE(WithinOneUlp(zyn::KernelSineF(angle), sinf(angle))) << angle;
        ASSERT_TRUE(WithinOneUlp(zyn::KernelCosineF(angle), cosf(angle))) << angle;
    }
    EXPECT_EQ(zyn::KernelSineF(NAN), 0.0f); // no trap, no endless reduction
}

TEST_F(ColorStateTest, TheCurrentValueAgainRebuildsNothing) {
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState();
    const ULONG publications = state->MatrixPublications();
    state->SetColorCorrection(1);
    state->SetBrightness(255);
    state->SetContrast(10);
    state->SetSaturation(10);
    state->SetHue(0);
    EXPECT_EQ(state->MatrixPublications(), publications);
    state->SetHue(30);
    EXPECT_EQ(state->MatrixPublications(), publications + 1);
    state->SetHue(30);
    EXPECT_EQ(state->MatrixPublications(), publications + 1);
    delete state;
}

TEST_F(ColorStateTest, PlainSettersStoreWithoutRebuilding) {
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState();
    const ULONG publications = state->MatrixPublications();
    state->SetBayerPhase(3);
    state->SetColorEnable(0);
    state->SetWhiteBalance(1);
    state->SetRedGain(300);
    state->SetGreenGain(0);
    state->SetBlueGain(70000);
    state->SetDotThreshold(30);
    // The matrix settings keep their defaults.
    EXPECT_EQ(StoredSettings(*state), (Stored{3, 0, 1, 300, 0, 70000, 1, 255, 10, 10, 0, 30}));
    EXPECT_EQ(state->MatrixPublications(), publications);
    delete state;
}

// The 32-bit x86 driver saves the floating-point state around each rebuild and skips the
// rebuild when it cannot; the value is stored all the same.
TEST_F(ColorStateTest, RebuildsAreBracketedAndSkippedWhenTheSaveFails) {
    zyn::ColorStateTraits traits;
    traits.saveFloatingPoint = true;
    const uint64_t savesBefore = sim::FloatingPointSaves();
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState(traits);
    EXPECT_EQ(sim::FloatingPointSaves(), savesBefore + 1);
    EXPECT_EQ(sim::OpenFloatingPointSaves(), 0);
    const Fixed defaults = Published(*state);

    state->SetBrightness(255); // unchanged: no save at all
    EXPECT_EQ(sim::FloatingPointSaves(), savesBefore + 1);

    sim::SetFloatingPointSaveFails(true);
    state->SetBrightness(0);
    EXPECT_EQ(state->GetBrightness(), 0);
    EXPECT_EQ(Published(*state), defaults);
    sim::SetFloatingPointSaveFails(false);

    // The skipped matrix is not forgotten: the next rebuild that can save brings it in.
    state->SetHue(90);
    EXPECT_EQ(Published(*state), reference::FixedMatrix(1, 0, 10, 10, 90));
    EXPECT_EQ(sim::OpenFloatingPointSaves(), 0);
    delete state;
}

TEST_F(ColorStateTest, CreationWithoutFloatingPointUsesTheIdentityUntilARebuildCan) {
    zyn::ColorStateTraits traits;
    traits.saveFloatingPoint = true;
    sim::SetFloatingPointSaveFails(true);
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState(traits);
    EXPECT_EQ(Published(*state), Rows({64, 0, 0, 0}, {0, 64, 0, 0}, {0, 0, 64, 0}, {0, 0, 0, 64}));
    state->SetHue(90);
    sim::SetFloatingPointSaveFails(false);
    state->SetHue(90); // same value, but the matrices are still owed
    EXPECT_EQ(Published(*state), reference::FixedMatrix(1, 255, 10, 10, 90));
    delete state;
}

TEST_F(ColorStateTest, GeometryAndWorkingBuffer) {
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState();
    state->SetFrameSize(1360, 1024);
    EXPECT_EQ(state->WorkPitch(), 1387u);
    EXPECT_EQ(state->WorkingSize(), 1387u * 1028);
    state->SetFrameSize(1000, 7);
    EXPECT_EQ(state->WorkPitch(), 1019u);
    EXPECT_EQ(state->WorkingSize(), 1019u * 12);

    const auto frameBlocks = sim::pool::Counters(zyn::kTagFrame).liveBlocks;
    ASSERT_EQ(state->AllocateWorkBuffer(), STATUS_SUCCESS);
    EXPECT_EQ(sim::pool::Counters(zyn::kTagFrame).liveBlocks, frameBlocks + 1);
    const PUCHAR buffer = state->WorkBuffer();
    for (ULONG i = 0; i < state->WorkingSize(); ++i) {
        ASSERT_EQ(buffer[i], 0) << "byte " << i;
    }
    EXPECT_EQ(state->Snapshot().imageOrigin, buffer + 5 + 2 * 1019);
    EXPECT_EQ(state->Snapshot().width, 1000u);
    EXPECT_EQ(state->Snapshot().height, 7u);

    // A second allocation replaces the first.
    ASSERT_EQ(state->AllocateWorkBuffer(), STATUS_SUCCESS);
    EXPECT_EQ(sim::pool::Counters(zyn::kTagFrame).liveBlocks, frameBlocks + 1);
    state->FreeWorkBuffer();
    EXPECT_EQ(state->WorkBuffer(), nullptr);
    EXPECT_EQ(sim::pool::Counters(zyn::kTagFrame).liveBlocks, frameBlocks);

    // Destruction frees a buffer still held.
    ASSERT_EQ(state->AllocateWorkBuffer(), STATUS_SUCCESS);
    delete state;
    EXPECT_EQ(sim::pool::Counters(zyn::kTagFrame).liveBlocks, frameBlocks);
}

TEST_F(ColorStateTest, WorkingBufferFailuresLeaveNoBuffer) {
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState();
    state->SetFrameSize(64, 64);
    sim::pool::FailAllocationsWithTag(zyn::kTagFrame);
    EXPECT_EQ(state->AllocateWorkBuffer(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(state->WorkBuffer(), nullptr);
    sim::pool::ClearInjectedFailures();

    // Sizes whose buffer would not fit the 32-bit sizes are refused, not wrapped.
    state->SetFrameSize(0xFFFFFFF0u, 4);
    EXPECT_EQ(state->WorkingSize(), 0u);
    EXPECT_EQ(state->AllocateWorkBuffer(), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(state->WorkBuffer(), nullptr);
    delete state;
}

TEST_F(ColorStateTest, SameSizeBufferIsKeptWhereTheModelAsksForIt) {
    zyn::ColorStateTraits traits;
    traits.keepWorkBufferOfSameSize = true;
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState(traits);
    state->SetFrameSize(100, 50);
    ASSERT_EQ(state->AllocateWorkBuffer(), STATUS_SUCCESS);
    const auto allocations = sim::pool::Counters(zyn::kTagFrame).allocations;
    const PUCHAR first = state->WorkBuffer();
    ASSERT_EQ(state->AllocateWorkBuffer(), STATUS_SUCCESS);
    EXPECT_EQ(state->WorkBuffer(), first);
    EXPECT_EQ(sim::pool::Counters(zyn::kTagFrame).allocations, allocations);
    state->SetFrameSize(200, 50);
    ASSERT_EQ(state->AllocateWorkBuffer(), STATUS_SUCCESS);
    EXPECT_EQ(sim::pool::Counters(zyn::kTagFrame).allocations, allocations + 1);
    delete state;
}

// Two setters on two threads and a frame thread copying the matrix: every copy must be a
// matrix that some combination of the values set gives, and the last one must match the
// final settings.
TEST_F(ColorStateTest, ConcurrentSettersNeitherCorruptNorTearTheMatrix) {
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState();
    std::set<Fixed> valid;
    for (long b : {255L, 0L, 510L}) {
        for (long k : {10L, 0L, 20L}) {
            for (long h : {0L, 90L, 200L}) {
                valid.insert(reference::FixedMatrix(1, b, k, 10, h));
            }
        }
    }
    std::atomic<bool> done{false};
    std::atomic<int> invalid{0};
    std::thread reader([&] {
        while (!done.load()) {
            if (valid.count(Published(*state)) == 0) {
                ++invalid;
            }
        }
    });
    std::thread brightness([&] {
        for (int i = 0; i < 400; ++i) {
            state->SetBrightness(i % 2 ? 0 : 510);
        }
    });
    std::thread others([&] {
        for (int i = 0; i < 400; ++i) {
            state->SetContrast(i % 2 ? 0 : 20);
            state->SetHue(i % 3 ? 90 : 200);
        }
    });
    brightness.join();
    others.join();
    done = true;
    reader.join();
    EXPECT_EQ(invalid.load(), 0);
    EXPECT_EQ(Published(*state), reference::FixedMatrix(1, 0, 0, 10, 200)); // the last values set
    delete state;
}

} // namespace
