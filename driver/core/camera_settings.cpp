#include "driver/core/camera_settings.h"

namespace zyn {

VOID CameraSettings::SetCreationValues(const SettingsLimits& limits) {
    RtlZeroMemory(static_cast<void*>(this), sizeof(*this));
    Timeout = kDefaultTimeout;
    ColorEnable = 1;
    RedGain = kDefaultColorGain;
    GreenGain = kDefaultColorGain;
    BlueGain = kDefaultColorGain;
    ColorCorrection = 1;
    Brightness = kDefaultBrightness;
    Contrast = kDefaultContrast;
    Saturation = kDefaultSaturation;
    DotThreshold = kDefaultDotThreshold;

    RoiW = limits.sensorWidth;
    RoiH = limits.sensorHeight;
    OutputWidth = limits.sensorWidth & ~7;
    OutputHeight = limits.sensorHeight;
    ReportW = limits.sensorWidth;
    ReportH = limits.sensorHeight;
}

} // namespace zyn
