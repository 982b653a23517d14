// The setters behind the property set's stored settings, shared with the settings load so that
// stored values meet the same limits as requested ones. Each clamps silently to the model's
// limits, stores the result in the settings record and, for the colour settings, hands it to
// the colour state when a capture pin has one. The getters of the colour settings first take
// the colour state's current value back into the record (automatic white balance moves the
// gains).
#pragma once

#include "driver/wdk.h"

namespace zyn {

class CameraDevice;

enum class ColorSetting : ULONG {
    Enable,       // ColorEnable: colour or monochrome output
    WhiteBalance, // automatic white balance running
    RedGain,      // 128 = 1.0
    GreenGain,
    BlueGain,
    Correction, // colour correction matrix applied
    Brightness, // [0, 510], neutral 255
    Contrast,   // [0, 20], neutral 10
    Saturation, // [0, 20], neutral 10
    Hue,        // [0, 359] degrees
};

constexpr LONG kBrightnessMaximum = 510;
constexpr LONG kContrastMaximum = 20;
constexpr LONG kSaturationMaximum = 20;
constexpr LONG kHueMaximum = 359;

// The value the setting stores for a request (the clamp alone).
LONG ClampColorSetting(const CameraDevice& device, ColorSetting setting, LONG value);
// Stores the clamped value and hands it to the colour state. Switching automatic white balance
// off keeps the gains it found: they become the stored manual gains.
VOID SetColorSetting(CameraDevice& device, ColorSetting setting, LONG value);
LONG GetColorSetting(CameraDevice& device, ColorSetting setting);

// Frame read timeout in ms: taken only above 500 (compared unsigned), then also published to
// the frame reads of every camera of the driver.
VOID SetTimeout(CameraDevice& device, LONG milliseconds);

// Mirror and flip of the delivered image, read by the capture pin on another thread; done by
// the sensor on the models that flip in the sensor.
VOID SetFlipH(CameraDevice& device, LONG flip);
VOID SetFlipV(CameraDevice& device, LONG flip);
LONG GetFlipH(const CameraDevice& device);
LONG GetFlipV(const CameraDevice& device);

// Dot filter of the conversion: while Dot is on the colour state gets DotThreshold, else 0.
VOID SetDot(CameraDevice& device, LONG dot);
VOID SetDotThreshold(CameraDevice& device, LONG threshold);

} // namespace zyn
