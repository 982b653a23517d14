// Settings persistence: the settings record in the Settings subkey of the device's driver key,
// one REG_DWORD per setting. A load goes through the property setters, so stored values meet
// the same limits as requested ones; registry failures never fail the caller.
#include "driver/control/settings_persistence.h"

#include "driver/control/camera_controls.h"
#include "driver/control/region_rule.h"
#include "driver/control/registry_key.h"
#include "driver/core/camera_device.h"
#include "driver/kernel/interlocked.h"

namespace zyn {

namespace {

constexpr WCHAR kSettingsKey[] = L"Settings";

// A stored timeout outside this range leaves the current one.
constexpr LONG kStoredTimeoutMinimum = 501;
constexpr LONG kStoredTimeoutMaximum = 9999;

// The stored values, in the order they are read and written. The dot filter's two come last
// and only with the models that have the filter.
enum StoredValue : ULONG {
    kTimeout,
    kExposure,
    kGlobalGain,
    kFlipH,
    kFlipV,
    kColorEnable,
    kWhiteBalance,
    kColorCorrection,
    kBrightness,
    kContrast,
    kSaturation,
    kHue,
    kRedGain,
    kGreenGain,
    kBlueGain,
    kAGC,
    kAEC,
    kClock,
    kExTrigger,
    kSubSample,
    kRoiX,
    kRoiY,
    kRoiW,
    kRoiH,
    kDot,
    kDotThreshold,
    kStoredValueCount,
};

constexpr PCWSTR kValueNames[kStoredValueCount] = {
    L"Timeout",    L"Exposure",   L"GlobalGain", L"FlipH",      L"FlipV",
    L"ColorEnable", L"WhiteBalance", L"ColorCorrection", L"Brightness", L"Contrast",
    L"Saturation", L"Hue",        L"RedGain",    L"GreenGain",  L"BlueGain",
    L"AGC",        L"AEC",        L"Clock",      L"ExTrigger",  L"SubSample",
    L"RoiX",       L"RoiY",       L"RoiW",       L"RoiH",       L"Dot",
    L"DotThreshold",
};

using StoredValues = LONG[kStoredValueCount];

ULONG StoredValueCount(const CameraDevice& device) {
    return device.Traits().limits.dotFilter ? kStoredValueCount : kDot;
}

// Every value at the default it has when the registry lacks it.
VOID SetDefaults(CameraDevice& device, StoredValues& values) {
    const SettingsLimits& limits = device.Traits().limits;
    RtlZeroMemory(values, sizeof(values));
    values[kTimeout] = kDefaultTimeout;
    values[kExposure] = limits.exposureMinimum;
    values[kColorEnable] = 1;
    values[kColorCorrection] = 1;
    values[kBrightness] = kDefaultBrightness;
    values[kContrast] = kDefaultContrast;
    values[kSaturation] = kDefaultSaturation;
    values[kRedGain] = kDefaultColorGain;
    values[kGreenGain] = kDefaultColorGain;
    values[kBlueGain] = kDefaultColorGain;
    values[kRoiW] = limits.sensorWidth;
    values[kRoiH] = limits.sensorHeight;
    values[kDotThreshold] = kDefaultDotThreshold;
    // A camera that reports its clock gives the default (and the record) the clock it runs
    // at; a failed read keeps the current one.
    values[kClock] = device.Settings().Clock;
    LONG clock;
    if (limits.clockFromCamera && device.readClock(&clock)) {
        values[kClock] = clock;
    }
}

LONG CurrentValue(const CameraSettings& settings, StoredValue value) {
    switch (value) {
    case kTimeout: return settings.Timeout;
    case kExposure: return settings.Exposure;
    case kGlobalGain: return settings.GlobalGain;
    case kFlipH: return ReadInterlocked(&settings.FlipH);
    case kFlipV: return ReadInterlocked(&settings.FlipV);
    case kColorEnable: return settings.ColorEnable;
    case kWhiteBalance: return settings.WhiteBalance;
    case kColorCorrection: return settings.ColorCorrection;
    case kBrightness: return settings.Brightness;
    case kContrast: return settings.Contrast;
    case kSaturation: return settings.Saturation;
    case kHue: return settings.Hue;
    case kRedGain: return settings.RedGain;
    case kGreenGain: return settings.GreenGain;
    case kBlueGain: return settings.BlueGain;
    case kAGC: return settings.AGC;
    case kAEC: return settings.AEC;
    case kClock: return settings.Clock;
    case kExTrigger: return settings.ExTrigger;
    case kSubSample: return settings.SubSample;
    case kRoiX: return settings.RoiX;
    case kRoiY: return settings.RoiY;
    case kRoiW: return settings.RoiW;
    case kRoiH: return settings.RoiH;
    case kDot: return settings.Dot;
    case kDotThreshold: return settings.DotThreshold;
    case kStoredValueCount: break;
    }
    return 0;
}

// The stored region, checked against the sensor (compared unsigned, so that a negative value
// counts as too large), for the region rule.
RegionRequest StoredRegion(const SettingsLimits& limits, const StoredValues& values) {
    const ULONG width = static_cast<ULONG>(limits.sensorWidth);
    const ULONG height = static_cast<ULONG>(limits.sensorHeight);
    RegionRequest region;
    region.x = static_cast<ULONG>(values[kRoiX]) < width ? values[kRoiX] : 0;
    region.y = static_cast<ULONG>(values[kRoiY]) < height ? values[kRoiY] : 0;
    region.width = static_cast<ULONG>(values[kRoiW]) > width ? limits.sensorWidth : values[kRoiW];
    region.height =
        static_cast<ULONG>(values[kRoiH]) > height ? limits.sensorHeight : values[kRoiH];
    region.subSample =
        static_cast<ULONG>(values[kSubSample]) <= static_cast<ULONG>(limits.subSampleSteps)
            ? values[kSubSample]
            : 0;
    return region;
}

// Applies the loaded values in the order the camera needs them.
VOID Apply(CameraDevice& device, const StoredValues& values) {
    const SettingsLimits& limits = device.Traits().limits;
    if (values[kTimeout] >= kStoredTimeoutMinimum && values[kTimeout] <= kStoredTimeoutMaximum) {
        SetTimeout(device, values[kTimeout]);
    }
    // Only a camera whose clock can be chosen takes the stored clock; the others keep the one
    // they run at.
    if (limits.clockSelectable) {
        (VOID) device.selectClock(values[kClock]);
    }

    (VOID) device.setExposure(values[kExposure]);
    (VOID) device.setGain(values[kGlobalGain]);
    SetColorSetting(device, ColorSetting::Enable, values[kColorEnable]);
    SetColorSetting(device, ColorSetting::WhiteBalance, values[kWhiteBalance]);
    SetColorSetting(device, ColorSetting::Correction, values[kColorCorrection]);
    SetColorSetting(device, ColorSetting::Brightness, values[kBrightness]);
    SetColorSetting(device, ColorSetting::Contrast, values[kContrast]);
    SetColorSetting(device, ColorSetting::Saturation, values[kSaturation]);
    SetColorSetting(device, ColorSetting::Hue, values[kHue]);
    SetColorSetting(device, ColorSetting::RedGain, values[kRedGain]);
    SetColorSetting(device, ColorSetting::GreenGain, values[kGreenGain]);
    SetColorSetting(device, ColorSetting::BlueGain, values[kBlueGain]);
    SetFlipH(device, values[kFlipH]);
    SetFlipV(device, values[kFlipV]);
    // The camera has no automatic gain or exposure: the record only keeps what was stored, so
    // that the next save writes it back unchanged.
    device.Settings().AGC = values[kAGC];
    device.Settings().AEC = values[kAEC];
    if (limits.dotFilter) {
        SetDot(device, values[kDot]);
        SetDotThreshold(device, values[kDotThreshold]);
    }
    const BOOLEAN triggerLast = device.Traits().triggerAfterRegion;
    if (!triggerLast) {
        (VOID) device.setExternalTrigger(values[kExTrigger]);
    }
    (VOID) ApplyRegion(device, StoredRegion(limits, values));
    // Where the trigger switch derives sensor registers from the shadow, after the others.
    if (triggerLast) {
        (VOID) device.setExternalTrigger(values[kExTrigger]);
    }
}

BOOLEAN LoadFromRegistry(CameraDevice& device) {
    RegistryKey driverKey;
    if (!NT_SUCCESS(driverKey.OpenDriverKey(device.Transport().PhysicalDeviceObject()))) {
        return FALSE;
    }
    RegistryKey settingsKey;
    if (!NT_SUCCESS(settingsKey.CreateSubkey(driverKey, kSettingsKey))) {
        return FALSE;
    }
    StoredValues values;
    SetDefaults(device, values);
    const ULONG count = StoredValueCount(device);
    for (ULONG i = 0; i < count; ++i) {
        // A missing value, or one shorter than 4 bytes, keeps its default.
        (VOID) settingsKey.QueryDword(kValueNames[i], &values[i]);
    }
    Apply(device, values);
    return TRUE;
}

BOOLEAN SaveToRegistry(CameraDevice& device) {
    RegistryKey driverKey;
    if (!NT_SUCCESS(driverKey.OpenDriverKey(device.Transport().PhysicalDeviceObject()))) {
        return FALSE;
    }
    RegistryKey settingsKey;
    if (!NT_SUCCESS(settingsKey.CreateSubkey(driverKey, kSettingsKey))) {
        return FALSE;
    }
    const ULONG count = StoredValueCount(device);
    for (ULONG i = 0; i < count; ++i) {
        // A failed write is not reported; the other values are still written.
        (VOID) settingsKey.SetDword(kValueNames[i],
                                    CurrentValue(device.Settings(), static_cast<StoredValue>(i)));
    }
    return TRUE;
}

} // namespace

const SettingsStore kRegistrySettingsStore = {LoadFromRegistry, SaveToRegistry};

} // namespace zyn
