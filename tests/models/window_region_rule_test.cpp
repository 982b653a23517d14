// The region rule of the models that program a window into the sensor.
#include <gtest/gtest.h>

#include "driver/control/window_region_rule.h"
#include "driver/models/egret/egret_model.h"
#include "driver/models/heron/heron_model.h"
#include "driver/models/plover/plover_model.h"

namespace model_test {
namespace {

using zyn::ApplyWindowRegion;
using zyn::CameraSettings;
using zyn::RegionRequest;

struct Window {
    LONG x, y, width, height;
};

Window Roi(const CameraSettings& s) {
    return {s.RoiX, s.RoiY, s.RoiW, s.RoiH};
}
Window Report(const CameraSettings& s) {
    return {s.ReportX, s.ReportY, s.ReportW, s.ReportH};
}

bool operator==(const Window& a, const Window& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}
std::ostream& operator<<(std::ostream& out, const Window& w) {
    return out << "(" << w.x << ", " << w.y << ", " << w.width << " x " << w.height << ")";
}

// A new camera's settings after the request, under the model's window rule.
CameraSettings Applied(const zyn::CameraModelTraits& traits, const RegionRequest& request) {
    CameraSettings settings;
    settings.SetCreationValues(traits.limits);
    ApplyWindowRegion(settings, traits.limits, traits.windowRegion, request);
    return settings;
}
CameraSettings Heron(const RegionRequest& request) {
    return Applied(zyn::heron::kTraits, request);
}
CameraSettings Egret(const RegionRequest& request) {
    return Applied(zyn::egret::kTraits, request);
}
CameraSettings Plover(const RegionRequest& request) {
    return Applied(zyn::plover::kTraits, request);
}

TEST(WindowRegionRule, WindowsNearTheFarEdgeAreCutOrMovedToTheOrigin) {
    // A window that starts too close to the edge is cut; one that leaves no room is moved.
    EXPECT_EQ(Roi(Heron({0, 2400, 0, 100, 64})), (Window{2400, 0, 48, 64}));
    EXPECT_EQ(Roi(Heron({0, 2430, 0, 100, 64})), (Window{0, 0, 100, 64}));
    EXPECT_EQ(Roi(Heron({0, 0, 2016, 64, 100})), (Window{0, 0, 64, 100}));
    EXPECT_EQ(Roi(Heron({0, 0, 2015, 64, 100})), (Window{0, 2016, 64, 32}));
    EXPECT_EQ(Roi(Egret({0, 2016, 1504, 64, 64})), (Window{0, 0, 64, 64}));
    EXPECT_EQ(Roi(Egret({0, 2000, 1500, 64, 64})), (Window{2000, 1500, 48, 36}));
    EXPECT_EQ(Roi(Plover({0, 1300, 1020, 100, 100})), (Window{0, 0, 100, 100}));
    EXPECT_EQ(Roi(Plover({0, 1295, 1015, 100, 100})), (Window{1295, 1015, 33, 33}));
}

TEST(WindowRegionRule, NegativeOriginsAndTinyOrHugeSizes) {
    EXPECT_EQ(Roi(Heron({0, -4, -8, 10, -5})), (Window{0, 0, 32, 32}));
    EXPECT_EQ(Roi(Egret({0, -1, 100, 0x7FFFFFFF, 0x7FFFFFFF})), (Window{0, 100, 2048, 1436}));
    EXPECT_EQ(Roi(Plover({0, 8, -3, 1, 2000})), (Window{8, 0, 32, 1048}));
}

TEST(WindowRegionRule, CroppingSensorsKeepTheWindowOnCropSteps) {
    // Origins and sizes round up to multiples of 4, so the delivered region is the window the
    // sensor reads and the phase of its first sample is known.
    const CameraSettings heron = Heron({0, 10, 7, 333, 201});
    EXPECT_EQ(Roi(heron), (Window{12, 8, 336, 204}));
    EXPECT_EQ(Report(heron), Roi(heron));
    EXPECT_EQ(heron.OutputWidth, 336);
    EXPECT_EQ(heron.OutputHeight, 204);
    // Rounding up never leaves the sensor.
    EXPECT_EQ(Roi(Egret({0, 2013, 1501, 33, 35})), (Window{2016, 1504, 32, 32}));
    EXPECT_EQ(Roi(Heron({0, 2415, 0, 40, 64})), (Window{2416, 0, 32, 64}));
    // Plover's window registers take any pixel.
    EXPECT_EQ(Roi(Plover({0, 11, 7, 333, 201})), (Window{11, 7, 333, 201}));
    EXPECT_EQ(Plover({0, 11, 7, 333, 201}).OutputWidth, 328);
}

TEST(WindowRegionRule, BinningReportsTheWholeSensorAndDeliversHalfOfIt) {
    const CameraSettings heron = Heron({1, 100, 100, 64, 64});
    EXPECT_EQ(heron.SubSample, 1);
    EXPECT_EQ(Report(heron), (Window{0, 0, 2448, 2048}));
    EXPECT_EQ(Roi(heron), (Window{0, 0, 1224, 1024}));
    EXPECT_EQ(heron.OutputWidth, 1224);
    EXPECT_EQ(heron.OutputHeight, 1024);

    const CameraSettings egret = Egret({1, 0, 0, 0, 0});
    EXPECT_EQ(Report(egret), (Window{0, 0, 2048, 1536}));
    EXPECT_EQ(Roi(egret), (Window{0, 0, 1024, 768}));
}

TEST(WindowRegionRule, SubSampleStepsTheModelLacksMeanFullResolution) {
    for (LONG steps : {2, 3, 4, -1}) {
        const CameraSettings heron = Heron({steps, 100, 200, 320, 240});
        EXPECT_EQ(heron.SubSample, 0) << steps;
        EXPECT_EQ(Roi(heron), (Window{100, 200, 320, 240})) << steps;
    }
    // Plover's sensor reads no sub-sampled frame.
    const CameraSettings plover = Plover({1, 100, 200, 320, 240});
    EXPECT_EQ(plover.SubSample, 0);
    EXPECT_EQ(Roi(plover), (Window{100, 200, 320, 240}));
}

} // namespace
} // namespace model_test
