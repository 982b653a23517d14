#include "driver/control/camera_controls.h"

#include "driver/core/camera_device.h"
#include "driver/kernel/interlocked.h"
#include "driver/pipeline/color_state.h"

namespace zyn {

namespace {

// Where each colour setting lives in the settings record and in the colour state.
struct ColorBinding {
    LONG CameraSettings::*field;
    VOID (ColorState::*set)(LONG);
    LONG (ColorState::*get)() const;
};

constexpr ColorBinding kBindings[] = {
    {&CameraSettings::ColorEnable, &ColorState::SetColorEnable, &ColorState::GetColorEnable},
    {&CameraSettings::WhiteBalance, &ColorState::SetWhiteBalance, &ColorState::GetWhiteBalance},
    {&CameraSettings::RedGain, &ColorState::SetRedGain, &ColorState::GetRedGain},
    {&CameraSettings::GreenGain, &ColorState::SetGreenGain, &ColorState::GetGreenGain},
    {&CameraSettings::BlueGain, &ColorState::SetBlueGain, &ColorState::GetBlueGain},
    {&CameraSettings::ColorCorrection, &ColorState::SetColorCorrection,
     &ColorState::GetColorCorrection},
    {&CameraSettings::Brightness, &ColorState::SetBrightness, &ColorState::GetBrightness},
    {&CameraSettings::Contrast, &ColorState::SetContrast, &ColorState::GetContrast},
    {&CameraSettings::Saturation, &ColorState::SetSaturation, &ColorState::GetSaturation},
    {&CameraSettings::Hue, &ColorState::SetHue, &ColorState::GetHue},
};
static_assert(sizeof(kBindings) / sizeof(kBindings[0]) == static_cast<ULONG>(ColorSetting::Hue) + 1,
              "one binding per colour setting");

const ColorBinding& Binding(ColorSetting setting) {
    return kBindings[static_cast<ULONG>(setting)];
}

constexpr LONG Clamp(LONG value, LONG minimum, LONG maximum) {
    return value < minimum ? minimum : value > maximum ? maximum : value;
}

} // namespace

LONG ClampColorSetting(const CameraDevice& device, ColorSetting setting, LONG value) {
    const SettingsLimits& limits = device.Traits().limits;
    switch (setting) {
    case ColorSetting::RedGain:
    case ColorSetting::GreenGain:
    case ColorSetting::BlueGain:
        return Clamp(value, limits.colorGainMinimum, limits.colorGainMaximum);
    case ColorSetting::Brightness:
        return Clamp(value, 0, kBrightnessMaximum);
    case ColorSetting::Contrast:
        return Clamp(value, 0, kContrastMaximum);
    case ColorSetting::Saturation:
        return Clamp(value, 0, kSaturationMaximum);
    case ColorSetting::Hue:
        return Clamp(value, 0, kHueMaximum);
    case ColorSetting::Enable:
    case ColorSetting::WhiteBalance:
    case ColorSetting::Correction:
        break;
    }
    return value;
}

VOID SetColorSetting(CameraDevice& device, ColorSetting setting, LONG value) {
    const ColorBinding& binding = Binding(setting);
    CameraSettings& settings = device.Settings();
    const LONG stored = ClampColorSetting(device, setting, value);
    settings.*binding.field = stored;

    ColorStateAccess access(device);
    ColorState* state = access.get();
    if (state == nullptr) {
        return;
    }
    (state->*binding.set)(stored);
    if (setting == ColorSetting::WhiteBalance && stored == 0) {
        settings.RedGain = state->GetRedGain();
        settings.GreenGain = state->GetGreenGain();
        settings.BlueGain = state->GetBlueGain();
    }
}

LONG GetColorSetting(CameraDevice& device, ColorSetting setting) {
    const ColorBinding& binding = Binding(setting);
    CameraSettings& settings = device.Settings();
    ColorStateAccess access(device);
    if (ColorState* state = access.get()) {
        settings.*binding.field = (state->*binding.get)();
    }
    return settings.*binding.field;
}

VOID SetTimeout(CameraDevice& device, LONG milliseconds) {
    if (static_cast<ULONG>(milliseconds) <= kTimeoutFloor) {
        return;
    }
    device.Settings().Timeout = milliseconds;
    device.Globals().SetTimeout(static_cast<ULONG>(milliseconds));
}

VOID SetFlipH(CameraDevice& device, LONG flip) {
    (VOID) device.setFlipH(flip);
}

VOID SetFlipV(CameraDevice& device, LONG flip) {
    (VOID) device.setFlipV(flip);
}

LONG GetFlipH(const CameraDevice& device) {
    return ReadInterlocked(&device.Settings().FlipH);
}

LONG GetFlipV(const CameraDevice& device) {
    return ReadInterlocked(&device.Settings().FlipV);
}

VOID SetDot(CameraDevice& device, LONG dot) {
    CameraSettings& settings = device.Settings();
    settings.Dot = dot;
    ColorStateAccess access(device);
    if (ColorState* state = access.get()) {
        state->SetDotThreshold(dot != 0 ? settings.DotThreshold : 0);
    }
}

VOID SetDotThreshold(CameraDevice& device, LONG threshold) {
    CameraSettings& settings = device.Settings();
    settings.DotThreshold = threshold;
    ColorStateAccess access(device);
    ColorState* state = access.get();
    if (state != nullptr && settings.Dot != 0) {
        state->SetDotThreshold(threshold);
    }
}

} // namespace zyn
