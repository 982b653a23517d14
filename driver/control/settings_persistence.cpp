// Settings persistence: the settings record in the Settings subkey of the device's driver key,
// one REG_DWORD per setting. A load goes through the property setters, so stored values meet
// the same limits as requested ones; registry failures never fail the caller.
#include "driver/control/settings_persistence.h"

#include "driver/control/camera_controls.h"
#include "driver/control/region_rule.h"
#include "driver/control/registry_key.h"
#include "driver/core/camera_device.h"
#include "driver/kernel/interlocked.h"
#include "driver/kernel/table_order.h"

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

// Where a value missing from the registry starts.
enum class StoredDefault {
    Fixed,           // StoredSetting::value
    ExposureMinimum, // the model's shortest exposure
    SensorWidth,
    SensorHeight,
    CameraClock, // the clock the camera runs at (SetDefaults)
};

// One registry value: its name, the settings field it saves and its default. The values are
// applied in the order the camera needs (Apply), not in this one.
struct StoredSetting {
    StoredValue id;
    PCWSTR name;
    volatile LONG CameraSettings::*field;
    StoredDefault from;
    LONG value;
};

constexpr StoredSetting kStoredSettings[kStoredValueCount] = {
    {kTimeout, L"Timeout", &CameraSettings::Timeout, StoredDefault::Fixed, kDefaultTimeout},
    {kExposure, L"Exposure", &CameraSettings::Exposure, StoredDefault::ExposureMinimum, 0},
    {kGlobalGain, L"GlobalGain", &CameraSettings::GlobalGain, StoredDefault::Fixed, 0},
    {kFlipH, L"FlipH", &CameraSettings::FlipH, StoredDefault::Fixed, 0},
    {kFlipV, L"FlipV", &CameraSettings::FlipV, StoredDefault::Fixed, 0},
    {kColorEnable, L"ColorEnable", &CameraSettings::ColorEnable, StoredDefault::Fixed, 1},
    {kWhiteBalance, L"WhiteBalance", &CameraSettings::WhiteBalance, StoredDefault::Fixed, 0},
    {kColorCorrection, L"ColorCorrection", &CameraSettings::ColorCorrection, StoredDefault::Fixed,
     1},
    {kBrightness, L"Brightness", &CameraSettings::Brightness, StoredDefault::Fixed,
     kDefaultBrightness},
    {kContrast, L"Contrast", &CameraSettings::Contrast, StoredDefault::Fixed, kDefaultContrast},
    {kSaturation, L"Saturation", &CameraSettings::Saturation, StoredDefault::Fixed,
     kDefaultSaturation},
    {kHue, L"Hue", &CameraSettings::Hue, StoredDefault::Fixed, 0},
    {kRedGain, L"RedGain", &CameraSettings::RedGain, StoredDefault::Fixed, kDefaultColorGain},
    {kGreenGain, L"GreenGain", &CameraSettings::GreenGain, StoredDefault::Fixed, kDefaultColorGain},
    {kBlueGain, L"BlueGain", &CameraSettings::BlueGain, StoredDefault::Fixed, kDefaultColorGain},
    {kAGC, L"AGC", &CameraSettings::AGC, StoredDefault::Fixed, 0},
    {kAEC, L"AEC", &CameraSettings::AEC, StoredDefault::Fixed, 0},
    {kClock, L"Clock", &CameraSettings::Clock, StoredDefault::CameraClock, 0},
    {kExTrigger, L"ExTrigger", &CameraSettings::ExTrigger, StoredDefault::Fixed, 0},
    {kSubSample, L"SubSample", &CameraSettings::SubSample, StoredDefault::Fixed, 0},
    {kRoiX, L"RoiX", &CameraSettings::RoiX, StoredDefault::Fixed, 0},
    {kRoiY, L"RoiY", &CameraSettings::RoiY, StoredDefault::Fixed, 0},
    {kRoiW, L"RoiW", &CameraSettings::RoiW, StoredDefault::SensorWidth, 0},
    {kRoiH, L"RoiH", &CameraSettings::RoiH, StoredDefault::SensorHeight, 0},
    {kDot, L"Dot", &CameraSettings::Dot, StoredDefault::Fixed, 0},
    {kDotThreshold, L"DotThreshold", &CameraSettings::DotThreshold, StoredDefault::Fixed,
     kDefaultDotThreshold},
};

static_assert(RowsInIdOrder(kStoredSettings, &StoredSetting::id),
              "each stored value's row sits at its id");

using StoredValues = LONG[kStoredValueCount];

ULONG StoredValueCount(const CameraDevice& device) {
    return device.Traits().limits.dotFilter ? kStoredValueCount : kDot;
}

// Every value at the default it has when the registry lacks it.
VOID SetDefaults(CameraDevice& device, StoredValues& values) {
    const SettingsLimits& limits = device.Traits().limits;
    for (const StoredSetting& setting : kStoredSettings) {
        LONG& value = values[setting.id];
        switch (setting.from) {
        case StoredDefault::Fixed:
            value = setting.value;
            break;
        case StoredDefault::ExposureMinimum:
            value = limits.exposureMinimum;
            break;
        case StoredDefault::SensorWidth:
            value = limits.sensorWidth;
            break;
        case StoredDefault::SensorHeight:
            value = limits.sensorHeight;
            break;
        case StoredDefault::CameraClock: {
            // A camera that reports its clock gives the default (and the record) the clock it
            // runs at; a failed read keeps the current one.
            value = device.Settings().Clock;
            LONG clock;
            if (limits.clockFromCamera && device.readClock(&clock)) {
                value = clock;
            }
            break;
        }
        }
    }
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

// Opens the device's driver key and creates or opens its Settings subkey, both held by the
// caller.
BOOLEAN OpenSettingsKey(CameraDevice& device, RegistryKey& driverKey, RegistryKey& settingsKey) {
    return NT_SUCCESS(driverKey.OpenDriverKey(device.Transport().PhysicalDeviceObject())) &&
           NT_SUCCESS(settingsKey.CreateSubkey(driverKey, kSettingsKey));
}

BOOLEAN LoadFromRegistry(CameraDevice& device) {
    RegistryKey driverKey;
    RegistryKey settingsKey;
    if (!OpenSettingsKey(device, driverKey, settingsKey)) {
        return FALSE;
    }
    StoredValues values;
    SetDefaults(device, values);
    const ULONG count = StoredValueCount(device);
    for (ULONG i = 0; i < count; ++i) {
        // A missing value, or one shorter than 4 bytes, keeps its default.
        (VOID) settingsKey.QueryDword(kStoredSettings[i].name, &values[i]);
    }
    Apply(device, values);
    return TRUE;
}

BOOLEAN SaveToRegistry(CameraDevice& device) {
    RegistryKey driverKey;
    RegistryKey settingsKey;
    if (!OpenSettingsKey(device, driverKey, settingsKey)) {
        return FALSE;
    }
    const ULONG count = StoredValueCount(device);
    for (ULONG i = 0; i < count; ++i) {
        // A failed write is not reported; the other values are still written.
        const StoredSetting& setting = kStoredSettings[i];
        (VOID) settingsKey.SetDword(setting.name,
                                    ReadInterlocked(&(device.Settings().*setting.field)));
    }
    return TRUE;
}

} // namespace

const SettingsStore kRegistrySettingsStore = {LoadFromRegistry, SaveToRegistry};

} // namespace zyn
