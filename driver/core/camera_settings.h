// The camera settings record: every setting a client sees through the property set, the
// region of interest and the shadow of the sensor registers. One per camera, inside its device
// context. Field names are those of the registry values.
//
// FlipH, FlipV and PinOpen are written with an interlocked exchange and read with an
// interlocked read: the frame conversion and the capture pin read them on other threads. The
// other fields are plain 32-bit values, each written as a whole.
#pragma once

#include "driver/wdk.h"

namespace zyn {

constexpr ULONG kRegisterShadowSize = 1024;
constexpr LONG kDefaultTimeout = 3000; // ms a frame read may wait
constexpr ULONG kTimeoutFloor = 500;   // a new Timeout is taken only above this (unsigned)
constexpr LONG kDefaultColorGain = 128;
constexpr LONG kDefaultBrightness = 255;
constexpr LONG kDefaultContrast = 10;
constexpr LONG kDefaultSaturation = 10;
constexpr LONG kDefaultDotThreshold = 30;

// What one camera model allows and reports; the property set's constant items come from here.
struct SettingsLimits {
    LONG sensorWidth;
    LONG sensorHeight;
    LONG exposureMinimum;
    LONG exposureMaximum;
    LONG exposureDefault;
    LONG gainMaximum;
    LONG gainDefault;
    LONG colorGainMinimum;
    LONG colorGainMaximum;
    LONG colorGainReportedMaximum;
    LONG subSampleSteps;     // 0: no sub-sampling
    BOOLEAN clockSelectable; // the pixel clock can be chosen
    BOOLEAN clockFromCamera; // the current clock is read from the camera's board
    BOOLEAN dotFilter;       // the conversion has the dot filter (Dot, DotThreshold)
};

// A requested exposure or gain as the sensor takes it. Compared unsigned: a negative request is
// as far out of range as a large one.
constexpr ULONG ExposureWithinLimits(LONG value, const SettingsLimits& limits) {
    const ULONG requested = static_cast<ULONG>(value);
    if (requested < static_cast<ULONG>(limits.exposureMinimum)) {
        return static_cast<ULONG>(limits.exposureMinimum);
    }
    return requested > static_cast<ULONG>(limits.exposureMaximum)
               ? static_cast<ULONG>(limits.exposureMaximum)
               : requested;
}
constexpr ULONG GainWithinLimits(LONG value, const SettingsLimits& limits) {
    const ULONG requested = static_cast<ULONG>(value);
    return requested > static_cast<ULONG>(limits.gainMaximum)
               ? static_cast<ULONG>(limits.gainMaximum)
               : requested;
}

struct CameraSettings {
    LONG ExTrigger;
    LONG Timeout;
    LONG Exposure;
    LONG GlobalGain;
    volatile LONG FlipH;
    volatile LONG FlipV;
    LONG ColorEnable;
    LONG WhiteBalance;
    LONG RedGain;
    LONG GreenGain;
    LONG BlueGain;
    LONG ColorCorrection;
    LONG Brightness;
    LONG Contrast;
    LONG Saturation;
    LONG Hue;
    LONG SubSample;
    // The window the region items report.
    LONG ReportX;
    LONG ReportY;
    LONG ReportW;
    LONG ReportH;

    LONG Clock; // pixel clock index
    LONG AGC;
    LONG AEC;

    // The region of interest in sensor pixels, and the size of the delivered image.
    LONG RoiX;
    LONG RoiY;
    LONG RoiW;
    LONG RoiH;
    LONG OutputWidth; // RoiW rounded down to a multiple of 8
    LONG OutputHeight;

    volatile LONG PinOpen; // 1 while a capture pin exists: the region is locked
    LONG SelectedAddress;  // of the register shadow and memory byte items

    // Dot filter of the conversion (Plover).
    LONG Dot;
    LONG DotThreshold;

    // The last value written to each sensor register index, unmasked.
    LONG RegisterShadow[kRegisterShadowSize];

    // The values a new device starts with: everything zero except the colour defaults,
    // Timeout, and the full sensor as region.
    VOID SetCreationValues(const SettingsLimits& limits);
};

} // namespace zyn
