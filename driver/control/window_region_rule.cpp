#include "driver/control/window_region_rule.h"

namespace zyn {

namespace {

constexpr LONG AlignUp(LONG value, LONG alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

struct Span {
    LONG origin;
    LONG length;
};

// One axis of the window on a sensor of `size` pixels.
Span FitSpan(LONG origin, LONG length, LONG size, const WindowRegionRule& rule) {
    // Compared unsigned, so that a negative origin is out of range too.
    if (static_cast<ULONG>(origin) >= static_cast<ULONG>(size - rule.minimumSize)) {
        origin = 0;
    }
    origin = AlignUp(origin, rule.alignment);
    if (length < rule.minimumSize) {
        length = rule.minimumSize;
    }
    if (length > size - origin) {
        length = size - origin;
    }
    // Within the sensor still: its edge lies on the alignment.
    return {origin, AlignUp(length, rule.alignment)};
}

} // namespace

VOID ApplyWindowRegion(CameraSettings& settings, const SettingsLimits& limits,
                       const WindowRegionRule& rule, const RegionRequest& request) {
    LONG subSample = request.subSample;
    if (subSample < 0 || subSample > limits.subSampleSteps) {
        subSample = 0;
    }
    settings.SubSample = subSample;

    if (subSample == 0) {
        const Span x = FitSpan(request.x, request.width, limits.sensorWidth, rule);
        const Span y = FitSpan(request.y, request.height, limits.sensorHeight, rule);
        settings.ReportX = settings.RoiX = x.origin;
        settings.ReportY = settings.RoiY = y.origin;
        settings.ReportW = settings.RoiW = x.length;
        settings.ReportH = settings.RoiH = y.length;
    } else {
        settings.ReportX = 0;
        settings.ReportY = 0;
        settings.ReportW = limits.sensorWidth;
        settings.ReportH = limits.sensorHeight;
        settings.RoiX = 0;
        settings.RoiY = 0;
        settings.RoiW = limits.sensorWidth >> subSample;
        settings.RoiH = limits.sensorHeight >> subSample;
    }
    settings.OutputWidth = settings.RoiW & ~7;
    settings.OutputHeight = settings.RoiH;
}

} // namespace zyn
