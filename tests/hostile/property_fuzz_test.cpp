// Hostile property requests: for every item id from 0 to 80, the ones a model lacks included,
// seeded random requests of every direction and flag, with buffers of every awkward length and
// values at and past every limit, half of them while a pin streams. Every short buffer must be
// refused, every value a set takes must read back inside the item's range, and the camera must
// still stream afterwards; the fixture finds any leak.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "oculix_zyn_properties.h"
#include "tests/support/stream_fixture.h"
#include "sim/host/camera_properties.h"

namespace zyn::e2e {
namespace {

constexpr ULONG kLastItem = 80;
constexpr int kRequestsPerItem = 1024;

// An item whose SET clamps: its value must lie between two other items' (its minimum and
// maximum), or between fixed bounds. The switches that store any Value as given (the flips,
// colour and balance switches) and Timeout have no range.
struct Range {
    ULONG item;
    ULONG minimumItem; // 0xFFFFFFFF: `low` and `high` are the bounds
    ULONG maximumItem;
    LONG low, high;
};
constexpr ULONG kFixed = 0xFFFFFFFF;
// The colour gains clamp to the model's own bounds, not to the range items 17 and 18 report.
constexpr ULONG kColorGainFloor = 0xFFFFFFFE;
constexpr ULONG kColorGainCeiling = 0xFFFFFFFD;
constexpr Range kRanges[] = {
    {CAMPROP_EXTRIGGER, kFixed, kFixed, 0, 1},
    {CAMPROP_EXPOSURE, CAMPROP_EXPOSURE_MIN, CAMPROP_EXPOSURE_MAX, 0, 0},
    {CAMPROP_GAIN, CAMPROP_GAIN_MIN, CAMPROP_GAIN_MAX, 0, 0},
    {CAMPROP_RED_GAIN, kColorGainFloor, kColorGainCeiling, 0, 0},
    {CAMPROP_GREEN_GAIN, kColorGainFloor, kColorGainCeiling, 0, 0},
    {CAMPROP_BLUE_GAIN, kColorGainFloor, kColorGainCeiling, 0, 0},
    {CAMPROP_BRIGHTNESS, CAMPROP_BRIGHTNESS_MIN, CAMPROP_BRIGHTNESS_MAX, 0, 0},
    {CAMPROP_CONTRAST, CAMPROP_CONTRAST_MIN, CAMPROP_CONTRAST_MAX, 0, 0},
    {CAMPROP_SATURATION, CAMPROP_SATURATION_MIN, CAMPROP_SATURATION_MAX, 0, 0},
    {CAMPROP_HUE, CAMPROP_HUE_MIN, CAMPROP_HUE_MAX, 0, 0},
};

const Range* RangeOf(ULONG item) {
    for (const Range& range : kRanges) {
        if (range.item == item) {
            return &range;
        }
    }
    return nullptr;
}

// A request record of any item with room for the longest buffer sent, 8-byte aligned.
constexpr ULONG kHugeBytes = 65536;
union Buffer {
    CameraPropertyValue scalar;
    CameraRegionValue region;
    CameraRawCommand raw;
    uint64_t align[kHugeBytes / 8];
};

class PropertyFuzzTest : public StreamTest {
protected:
    struct Tally {
        unsigned sent = 0;
        unsigned refusedShort = 0;
        unsigned setsChecked = 0;
    };

    // LONG values that test each limit of an item: the extremes of the type, either side of
    // 0 and 1, and the item's own limits and one past them.
    std::vector<LONG> Values(const Range* range) {
        std::vector<LONG> values = {std::numeric_limits<LONG>::min(), -1, 0, 1,
                                    std::numeric_limits<LONG>::max()};
        if (range != nullptr) {
            const LONG low = Bound(range->minimumItem, range->low);
            const LONG high = Bound(range->maximumItem, range->high);
            for (LONG limit : {low, high}) {
                values.push_back(limit);
                if (limit > std::numeric_limits<LONG>::min()) {
                    values.push_back(limit - 1);
                }
                if (limit < std::numeric_limits<LONG>::max()) {
                    values.push_back(limit + 1);
                }
            }
        }
        return values;
    }

    LONG Bound(ULONG item, LONG fixed) {
        const SettingsLimits& limits = Session().device().Traits().limits;
        switch (item) {
        case kFixed:
            return fixed;
        case kColorGainFloor:
            return limits.colorGainMinimum;
        case kColorGainCeiling:
            return limits.colorGainMaximum;
        default:
            break;
        }
        LONG value = 0;
        EXPECT_EQ(host::GetValue(Session().filter(), item, &value).status, STATUS_SUCCESS);
        return value;
    }

    void Fuzz(ULONG item, std::mt19937& random, int requests, Tally* tally) {
        // Plover stores any exposure it is given.
        const Range* range = plover_ && item == CAMPROP_EXPOSURE ? nullptr : RangeOf(item);
        const std::vector<LONG> values = Values(range);
        const ULONG exact = host::RecordSize(item);
        const ULONG lengths[] = {0, 1, 3, exact - 1, exact, exact + 16, kHugeBytes};
        const ULONG flagChoices[] = {KSPROPERTY_TYPE_GET, KSPROPERTY_TYPE_SET,
                                     KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET, 0, 0x80000000u};
        ULONG access = 0;
        const bool known = host::Support(Session().filter(), item, &access).ok();

        for (int i = 0; i < requests; ++i) {
            const ULONG flags = flagChoices[random() % std::size(flagChoices)];
            const ULONG dataLength = lengths[random() % std::size(lengths)];
            // Mostly a whole property header; now and then a short one as well.
            const ULONG propertyLength =
                random() % 8 == 0 ? lengths[random() % 4] : std::min(exact, dataLength + exact);
            const LONG value = values[random() % values.size()];

            Buffer& buffer_ = *data_;
            buffer_.raw = CameraRawCommand{};
            buffer_.scalar.Set = KSPROPSETID_CameraSettings;
            buffer_.scalar.Id = item;
            buffer_.scalar.Flags = flags;
            buffer_.scalar.Value = value;
            if (item == CAMPROP_REGION) {
                buffer_.region.X = values[random() % values.size()];
                buffer_.region.Y = values[random() % values.size()];
                buffer_.region.Width = values[random() % values.size()];
                buffer_.region.Height = values[random() % values.size()];
            } else if (item == CAMPROP_RAW_COMMAND) {
                buffer_.raw.Length = values[random() % values.size()];
            }
            Buffer& property = *property_;
            std::memcpy(&property, &buffer_, sizeof(CameraRawCommand));
            const sim::host::PropertyResult result =
                Session().filter().RawProperty(&property, propertyLength, &buffer_, dataLength);
            ++tally->sent;

            const bool isSet = flags == KSPROPERTY_TYPE_SET;
            const bool shortBuffer = dataLength < exact || propertyLength < exact;
            if (shortBuffer && (flags == KSPROPERTY_TYPE_GET || isSet)) {
                EXPECT_FALSE(result.ok())
                    << "item " << item << " flags " << flags << " data " << dataLength
                    << " property " << propertyLength << ": a short buffer was taken";
                tally->refusedShort += !result.ok();
            }
            if (!known) {
                EXPECT_FALSE(result.ok()) << "item " << item << " is not the model's";
            }
            if (isSet && result.ok() && range != nullptr) {
                LONG now = 0;
                ASSERT_EQ(host::GetValue(Session().filter(), item, &now).status, STATUS_SUCCESS);
                const LONG low = Bound(range->minimumItem, range->low);
                const LONG high = Bound(range->maximumItem, range->high);
                EXPECT_TRUE(now >= low && now <= high)
                    << "item " << item << " set to " << value << " reads back " << now
                    << ", outside " << low << ".." << high;
                ++tally->setsChecked;
            }
        }
    }

    // The settings that would keep frames from coming once the fuzzing is over.
    void RestoreStreaming() {
        EXPECT_EQ(Set(CAMPROP_EXTRIGGER, 0), STATUS_SUCCESS);
        EXPECT_EQ(Set(CAMPROP_TIMEOUT, 1000), STATUS_SUCCESS);
        Session().device().Globals().SetTimeout(kReadTimeoutMs);
    }

    void FuzzModel(const char* model) {
        SessionOptions options;
        options.model = model;
        options.clientFrames = 2;
        plover_ = std::string(model) == "plover";
        Open(nullptr, options);
        ASSERT_EQ(Region(0, 0, 128, 96), STATUS_SUCCESS);
        std::mt19937 random(0x5EED0000u + static_cast<unsigned>(model[0]));
        Tally tally;

        for (ULONG item = 0; item <= kLastItem; ++item) {
            Fuzz(item, random, kRequestsPerItem / 2, &tally);
        }
        RestoreStreaming();
        ASSERT_EQ(Region(0, 0, 128, 96), STATUS_SUCCESS);
        Run();
        for (ULONG item = 0; item <= kLastItem; ++item) {
            Fuzz(item, random, kRequestsPerItem / 2, &tally);
            if (HasFailure()) {
                break;
            }
        }
        RestoreStreaming();
        // A fuzzed raw command or sensor write may have reprogrammed the camera: the next run
        // programs it again, and frames must come.
        ASSERT_EQ(Session().SetState(KSSTATE_STOP), STATUS_SUCCESS);
        ASSERT_EQ(Session().SetState(KSSTATE_RUN), STATUS_SUCCESS);
        for (int i = 0; i < 2; ++i) {
            std::unique_ptr<sim::host::Frame> frame = Next(std::chrono::seconds(10));
            ASSERT_NE(frame, nullptr) << model << ": no frame after the fuzzing";
            EXPECT_EQ(frame->status(), STATUS_SUCCESS);
            ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
        }
        std::printf("%s: %u property requests sent (%u short buffers refused, %u sets read back "
                    "in range)\n",
                    model, tally.sent, tally.refusedShort, tally.setsChecked);
        Session().Close();
    }

    bool plover_ = false;
    std::unique_ptr<Buffer> property_ = std::make_unique<Buffer>();
    std::unique_ptr<Buffer> data_ = std::make_unique<Buffer>();
};

TEST_F(PropertyFuzzTest, Tern) {
    FuzzModel("tern");
}
TEST_F(PropertyFuzzTest, Heron) {
    FuzzModel("heron");
}
TEST_F(PropertyFuzzTest, Plover) {
    FuzzModel("plover");
}
TEST_F(PropertyFuzzTest, Egret) {
    FuzzModel("egret");
}

} // namespace
} // namespace zyn::e2e
