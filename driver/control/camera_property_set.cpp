#include "driver/control/camera_property_set.h"

#include "driver/control/camera_controls.h"
#include "driver/control/region_rule.h"
#include "driver/core/camera_device.h"
#include "driver/kernel/interlocked.h"
#include "driver/kernel/table_order.h"

namespace zyn {

namespace {

constexpr LONG kColorGainReportedMinimum = 1;

// How a GET answers a scalar item.
struct Answer {
    enum Kind : UCHAR {
        kNone,    // no value: a set-only item
        kFixed,   // `value`, the same on every model; needs no camera
        kValue,   // `value`
        kSetting, // the settings field
        kLimit,   // the model's limit
        kColor,   // the colour setting
        kAsk,     // computed by `ask`, which may ask the camera first
    };
    Kind kind = kNone;
    LONG value = 0;
    LONG CameraSettings::*setting = nullptr;
    LONG SettingsLimits::*limit = nullptr;
    ColorSetting color = ColorSetting::Enable;
    LONG (*ask)(CameraDevice&) = nullptr;
};

// What a SET of a scalar item does.
struct Action {
    enum Kind : UCHAR {
        kNone,  // accepted without effect
        kColor, // the colour setting
        kApply, // `apply`, whose status is the reply
    };
    Kind kind = kNone;
    ColorSetting color = ColorSetting::Enable;
    NTSTATUS (*apply)(CameraDevice&, const CameraPropertyValue&) = nullptr;
};

constexpr Answer Fixed(LONG value) {
    return {.kind = Answer::kFixed, .value = value};
}
constexpr Answer Value(LONG value) {
    return {.kind = Answer::kValue, .value = value};
}
constexpr Answer Setting(LONG CameraSettings::*field) {
    return {.kind = Answer::kSetting, .setting = field};
}
constexpr Answer Limit(LONG SettingsLimits::*field) {
    return {.kind = Answer::kLimit, .limit = field};
}
constexpr Answer Ask(LONG (*ask)(CameraDevice&)) {
    return {.kind = Answer::kAsk, .ask = ask};
}
constexpr Action Apply(NTSTATUS (*apply)(CameraDevice&, const CameraPropertyValue&)) {
    return {.kind = Action::kApply, .apply = apply};
}
constexpr Answer kNoAnswer = {};
constexpr Action kNoEffect = {};

// A colour setting reads and writes through the colour controls.
struct ColorRow {
    Answer get;
    Action set;
};
constexpr ColorRow Color(ColorSetting setting) {
    return {{.kind = Answer::kColor, .color = setting}, {.kind = Action::kColor, .color = setting}};
}

LONG AskExTrigger(CameraDevice& device) {
    LONG flag;
    (VOID) device.readExternalTrigger(&flag); // a camera that keeps it refreshes the record
    return device.Settings().ExTrigger != 0 ? 1 : 0;
}
LONG AskGain(CameraDevice& device) {
    LONG gain;
    (VOID) device.readGain(&gain); // a sensor that answers reads refreshes the record
    return device.Settings().GlobalGain;
}
LONG AskFlipH(CameraDevice& device) {
    return GetFlipH(device);
}
LONG AskFlipV(CameraDevice& device) {
    return GetFlipV(device);
}
LONG AskRegionLocked(CameraDevice& device) {
    return ReadInterlocked(&device.Settings().PinOpen);
}
LONG AskClock(CameraDevice& device) {
    if (device.Traits().limits.clockFromCamera) {
        LONG clock;
        (VOID) device.readClock(&clock); // a failed read reports the stored clock
    }
    return device.Settings().Clock;
}
LONG AskClockSelectable(CameraDevice& device) {
    return device.Traits().limits.clockSelectable ? 1 : 0;
}
LONG AskRegister(CameraDevice& device) {
    // A sensor that answers reads is asked; otherwise the shadow tells. Compared unsigned: a
    // negative address is as far out of the shadow as a large one.
    const CameraSettings& settings = device.Settings();
    const ULONG address = static_cast<ULONG>(settings.SelectedAddress);
    ULONG registerValue = 0;
    if (!device.readSensorRegister(address, &registerValue)) {
        registerValue = address < kRegisterShadowSize
                            ? static_cast<ULONG>(settings.RegisterShadow[address])
                            : 0;
    }
    return static_cast<LONG>(registerValue);
}

// A setter of the camera keeps what the camera has when it did not take a command; the reply
// succeeds.
template <BOOLEAN (CameraDevice::*Setter)(LONG)>
NTSTATUS ApplyToCamera(CameraDevice& device, const CameraPropertyValue& record) {
    (VOID)(device.*Setter)(record.Value);
    return STATUS_SUCCESS;
}
template <VOID (*Control)(CameraDevice&, LONG)>
NTSTATUS ApplyControl(CameraDevice& device, const CameraPropertyValue& record) {
    Control(device, record.Value);
    return STATUS_SUCCESS;
}
NTSTATUS ApplySensorRegister(CameraDevice& device, const CameraPropertyValue& record) {
    // The register index travels in Value and the register value in the word behind it. The
    // model refuses an index beyond its sensor's registers.
    return device.writeSensorRegister(static_cast<ULONG>(record.Value),
                                      static_cast<ULONG>(record.Reserved))
               ? STATUS_SUCCESS
               : STATUS_UNSUCCESSFUL;
}
NTSTATUS ApplySelectAddress(CameraDevice& device, const CameraPropertyValue& record) {
    device.Settings().SelectedAddress = record.Value;
    return STATUS_SUCCESS;
}
NTSTATUS ApplyReload(CameraDevice& device, const CameraPropertyValue&) {
    device.PrepareForReload();
    (VOID) device.loadSettings();
    return STATUS_SUCCESS;
}

struct ScalarRow {
    ULONG id;
    Answer get;
    Action set;

    constexpr ScalarRow(ULONG rowId, Answer answer, Action action)
        : id(rowId), get(answer), set(action) {}
    constexpr ScalarRow(ULONG rowId, ColorRow color) : id(rowId), get(color.get), set(color.set) {}
};

// Every item in id order. The region, raw command and memory byte items carry records of their
// own and are handled apart; their rows only hold their place.
constexpr ScalarRow kScalarRows[kCameraPropertyIdCount] = {
    {CAMPROP_EXTRIGGER, Ask(AskExTrigger), Apply(ApplyToCamera<&CameraDevice::setExternalTrigger>)},
    {CAMPROP_TIMEOUT, Setting(&CameraSettings::Timeout), Apply(ApplyControl<SetTimeout>)},
    {CAMPROP_EXPOSURE, Setting(&CameraSettings::Exposure),
     Apply(ApplyToCamera<&CameraDevice::setExposure>)},
    {CAMPROP_EXPOSURE_MIN, Limit(&SettingsLimits::exposureMinimum), kNoEffect},
    {CAMPROP_EXPOSURE_MAX, Limit(&SettingsLimits::exposureMaximum), kNoEffect},
    {CAMPROP_EXPOSURE_DEFAULT, Limit(&SettingsLimits::exposureDefault), kNoEffect},
    {CAMPROP_GAIN, Ask(AskGain), Apply(ApplyToCamera<&CameraDevice::setGain>)},
    {CAMPROP_GAIN_MIN, Value(0), kNoEffect},
    {CAMPROP_GAIN_MAX, Limit(&SettingsLimits::gainMaximum), kNoEffect},
    {CAMPROP_GAIN_DEFAULT, Limit(&SettingsLimits::gainDefault), kNoEffect},
    {CAMPROP_FLIP_H, Ask(AskFlipH), Apply(ApplyControl<SetFlipH>)},
    {CAMPROP_FLIP_V, Ask(AskFlipV), Apply(ApplyControl<SetFlipV>)},
    {CAMPROP_COLOR_ENABLE, Color(ColorSetting::Enable)},
    {CAMPROP_WHITE_BALANCE, Color(ColorSetting::WhiteBalance)},
    {CAMPROP_RED_GAIN, Color(ColorSetting::RedGain)},
    {CAMPROP_GREEN_GAIN, Color(ColorSetting::GreenGain)},
    {CAMPROP_BLUE_GAIN, Color(ColorSetting::BlueGain)},
    {CAMPROP_RGB_GAIN_MIN, Fixed(kColorGainReportedMinimum), kNoEffect},
    {CAMPROP_RGB_GAIN_MAX, Limit(&SettingsLimits::colorGainReportedMaximum), kNoEffect},
    {CAMPROP_RGB_GAIN_DEFAULT, Fixed(kDefaultColorGain), kNoEffect},
    {CAMPROP_BRIGHTNESS, Color(ColorSetting::Brightness)},
    {CAMPROP_BRIGHTNESS_MIN, Fixed(0), kNoEffect},
    {CAMPROP_BRIGHTNESS_MAX, Fixed(kBrightnessMaximum), kNoEffect},
    {CAMPROP_BRIGHTNESS_DEFAULT, Fixed(kDefaultBrightness), kNoEffect},
    {CAMPROP_CONTRAST, Color(ColorSetting::Contrast)},
    {CAMPROP_CONTRAST_MIN, Fixed(0), kNoEffect},
    {CAMPROP_CONTRAST_MAX, Fixed(kContrastMaximum), kNoEffect},
    {CAMPROP_CONTRAST_DEFAULT, Fixed(kDefaultContrast), kNoEffect},
    {CAMPROP_SATURATION, Color(ColorSetting::Saturation)},
    {CAMPROP_SATURATION_MIN, Fixed(0), kNoEffect},
    {CAMPROP_SATURATION_MAX, Fixed(kSaturationMaximum), kNoEffect},
    {CAMPROP_SATURATION_DEFAULT, Fixed(kDefaultSaturation), kNoEffect},
    {CAMPROP_HUE, Color(ColorSetting::Hue)},
    {CAMPROP_HUE_MIN, Fixed(0), kNoEffect},
    {CAMPROP_HUE_MAX, Fixed(kHueMaximum), kNoEffect},
    {CAMPROP_HUE_DEFAULT, Fixed(0), kNoEffect},
    {CAMPROP_SUBSAMPLE_STEPS, Limit(&SettingsLimits::subSampleSteps), kNoEffect},
    {CAMPROP_SUBSAMPLE, Setting(&CameraSettings::SubSample), kNoEffect},
    {CAMPROP_SENSOR_WIDTH, Limit(&SettingsLimits::sensorWidth), kNoEffect},
    {CAMPROP_SENSOR_HEIGHT, Limit(&SettingsLimits::sensorHeight), kNoEffect},
    {CAMPROP_ROI_X, Setting(&CameraSettings::ReportX), kNoEffect},
    {CAMPROP_ROI_Y, Setting(&CameraSettings::ReportY), kNoEffect},
    {CAMPROP_ROI_WIDTH, Setting(&CameraSettings::ReportW), kNoEffect},
    {CAMPROP_ROI_HEIGHT, Setting(&CameraSettings::ReportH), kNoEffect},
    {CAMPROP_REGION, kNoAnswer, kNoEffect},
    {CAMPROP_REGION_LOCKED, Ask(AskRegionLocked), kNoEffect},
    {CAMPROP_EXTRIGGER_AVAILABLE, Value(1), kNoEffect},
    {CAMPROP_RESERVED_47, kNoAnswer, kNoEffect},
    {CAMPROP_COLOR_CORRECTION, Color(ColorSetting::Correction)},
    {CAMPROP_CLOCK, Ask(AskClock), Apply(ApplyToCamera<&CameraDevice::selectClock>)},
    {CAMPROP_CLOCK_SELECTABLE, Ask(AskClockSelectable), kNoEffect},
    {CAMPROP_FLIP_H_AVAILABLE, Value(1), kNoEffect},
    {CAMPROP_FLIP_V_AVAILABLE, Value(1), kNoEffect},
    {CAMPROP_AGC_AVAILABLE, Value(0), kNoEffect},
    {CAMPROP_AEC_AVAILABLE, Value(0), kNoEffect},
    {CAMPROP_AGC, Setting(&CameraSettings::AGC), kNoEffect},
    {CAMPROP_AEC, Setting(&CameraSettings::AEC), kNoEffect},
    {CAMPROP_SENSOR_REGISTER, kNoAnswer, Apply(ApplySensorRegister)},
    {CAMPROP_REGISTER_SHADOW, Ask(AskRegister), Apply(ApplySelectAddress)},
    {CAMPROP_RAW_COMMAND, kNoAnswer, kNoEffect},
    {CAMPROP_MEMORY_BYTE, kNoAnswer, kNoEffect},
    {CAMPROP_COLOR_GAIN_MIN, Value(0), kNoEffect},
    {CAMPROP_COLOR_GAIN_MAX, Value(0), kNoEffect},
    {CAMPROP_COLOR_GAIN_RED, Value(0), kNoEffect},
    {CAMPROP_COLOR_GAIN_GREEN1, Value(0), kNoEffect},
    {CAMPROP_COLOR_GAIN_GREEN2, Value(0), kNoEffect},
    {CAMPROP_COLOR_GAIN_BLUE, Value(0), kNoEffect},
    {CAMPROP_RELOAD_SETTINGS, kNoAnswer, Apply(ApplyReload)},
    {CAMPROP_COLOR_GAIN_DIALOG, Value(0), kNoEffect},
    {CAMPROP_DOT, Setting(&CameraSettings::Dot), Apply(ApplyControl<SetDot>)},
    {CAMPROP_DOT_THRESHOLD, Setting(&CameraSettings::DotThreshold),
     Apply(ApplyControl<SetDotThreshold>)},
};

static_assert(RowsInIdOrder(kScalarRows, &ScalarRow::id), "rows in id order without gaps");

CameraDevice* DeviceOfRequest(PIRP irp) {
    PKSFILTER filter = KsGetFilterFromIrp(irp);
    if (filter == nullptr) {
        return nullptr;
    }
    PKSDEVICE device = KsGetDevice(filter);
    return device != nullptr ? static_cast<CameraDevice*>(device->Context) : nullptr;
}

// GET of a scalar item: the value for the record, or a failure status.
NTSTATUS GetScalar(CameraDevice& device, const Answer& answer, LONG* value) {
    switch (answer.kind) {
    case Answer::kFixed:
    case Answer::kValue:
        *value = answer.value;
        return STATUS_SUCCESS;
    case Answer::kSetting:
        *value = device.Settings().*answer.setting;
        return STATUS_SUCCESS;
    case Answer::kLimit:
        *value = device.Traits().limits.*answer.limit;
        return STATUS_SUCCESS;
    case Answer::kColor:
        *value = GetColorSetting(device, answer.color);
        return STATUS_SUCCESS;
    case Answer::kAsk:
        *value = answer.ask(device);
        return STATUS_SUCCESS;
    case Answer::kNone:
        break;
    }
    // The set-only items (57, 59) never get here: kernel streaming answers their get with
    // STATUS_NOT_FOUND, as their items declare no get handler.
    return STATUS_UNSUCCESSFUL;
}

NTSTATUS Get(CameraDevice& device, ULONG id, PVOID data) {
    if (id == CAMPROP_MEMORY_BYTE) {
        auto* record = static_cast<CameraRawCommand*>(data);
        UCHAR byte;
        // The address is the packet's 16 bits; the record keeps its last byte when the camera
        // cannot be reached. A camera that took the command and never answered is reported:
        // the request was cancelled after its bound.
        const NTSTATUS read = device.readMemoryByteStatus(
            static_cast<USHORT>(device.Settings().SelectedAddress), &byte);
        if (NT_SUCCESS(read)) {
            record->Data[0] = byte;
        }
        return read == STATUS_IO_TIMEOUT ? read : STATUS_SUCCESS;
    }
    LONG value = 0;
    const NTSTATUS status = GetScalar(device, kScalarRows[id].get, &value);
    if (NT_SUCCESS(status)) {
        static_cast<CameraPropertyValue*>(data)->Value = value;
    }
    return status;
}

NTSTATUS Set(CameraDevice& device, ULONG id, PVOID data) {
    if (id == CAMPROP_REGION) {
        const auto* record = static_cast<const CameraRegionValue*>(data);
        (VOID) ApplyRegion(device, RegionRequest{record->SubSample, record->X, record->Y,
                                                 record->Width, record->Height});
        return STATUS_SUCCESS;
    }
    if (id == CAMPROP_RAW_COMMAND) {
        const auto* record = static_cast<const CameraRawCommand*>(data);
        (VOID) device.sendRawCommand(record->Length, record->Data);
        return STATUS_SUCCESS;
    }
    if (id == CAMPROP_MEMORY_BYTE) {
        device.Settings().SelectedAddress = static_cast<const CameraRawCommand*>(data)->Value;
        return STATUS_SUCCESS;
    }

    const auto& record = *static_cast<const CameraPropertyValue*>(data);
    const Action& action = kScalarRows[id].set;
    switch (action.kind) {
    case Action::kColor:
        SetColorSetting(device, action.color, record.Value);
        break;
    case Action::kApply:
        return action.apply(device, record);
    case Action::kNone:
        // Read-only values, AGC, AEC and the colour gain items: accepted without effect.
        break;
    }
    return STATUS_SUCCESS;
}

} // namespace

NTSTATUS CameraPropertyHandler(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    const ULONG id = request->Id;
    if (id >= kCameraPropertyIdCount) {
        return STATUS_NOT_FOUND;
    }
    const ULONG recordSize = CameraPropertyRecordSize(id);
    const ULONG dataLength =
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    if (data == nullptr || dataLength < recordSize) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    const BOOLEAN set = request->Flags == KSPROPERTY_TYPE_SET;

    const Answer& answer = kScalarRows[id].get;
    if (answer.kind == Answer::kFixed) {
        if (!set) {
            static_cast<CameraPropertyValue*>(data)->Value = answer.value;
            irp->IoStatus.Information = recordSize;
        }
        return STATUS_SUCCESS;
    }

    CameraDevice* device = DeviceOfRequest(irp);
    if (device == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    if (set) {
        return Set(*device, id, data);
    }
    const NTSTATUS status = Get(*device, id, data);
    if (NT_SUCCESS(status)) {
        irp->IoStatus.Information = recordSize;
    }
    return status;
}

//
// The items, in id order.
//

namespace {

enum Directions : ULONG {
    kGet = 1,
    kSet = 2,
    kGetSet = kGet | kSet,
};

constexpr KSPROPERTY_ITEM Item(ULONG id, ULONG directions) {
    KSPROPERTY_ITEM item{};
    item.PropertyId = id;
    item.GetPropertyHandler = (directions & kGet) != 0 ? &CameraPropertyHandler : nullptr;
    item.MinProperty = CameraPropertyRecordSize(id); // the client sends the record as both
    item.MinData = CameraPropertyRecordSize(id);
    item.SetPropertyHandler = (directions & kSet) != 0 ? &CameraPropertyHandler : nullptr;
    // No value ranges, relations, support handler or serialisation.
    return item;
}

} // namespace

constexpr KSPROPERTY_ITEM kCameraPropertyItems[kCameraPropertyIdCount] = {
    Item(CAMPROP_EXTRIGGER, kGetSet),
    Item(CAMPROP_TIMEOUT, kGetSet),
    Item(CAMPROP_EXPOSURE, kGetSet),
    Item(CAMPROP_EXPOSURE_MIN, kGet),
    Item(CAMPROP_EXPOSURE_MAX, kGet),
    Item(CAMPROP_EXPOSURE_DEFAULT, kGet),
    Item(CAMPROP_GAIN, kGetSet),
    Item(CAMPROP_GAIN_MIN, kGet),
    Item(CAMPROP_GAIN_MAX, kGet),
    Item(CAMPROP_GAIN_DEFAULT, kGet),
    Item(CAMPROP_FLIP_H, kGetSet),
    Item(CAMPROP_FLIP_V, kGetSet),
    Item(CAMPROP_COLOR_ENABLE, kGetSet),
    Item(CAMPROP_WHITE_BALANCE, kGetSet),
    Item(CAMPROP_RED_GAIN, kGetSet),
    Item(CAMPROP_GREEN_GAIN, kGetSet),
    Item(CAMPROP_BLUE_GAIN, kGetSet),
    Item(CAMPROP_RGB_GAIN_MIN, kGet),
    Item(CAMPROP_RGB_GAIN_MAX, kGet),
    Item(CAMPROP_RGB_GAIN_DEFAULT, kGet),
    Item(CAMPROP_BRIGHTNESS, kGetSet),
    Item(CAMPROP_BRIGHTNESS_MIN, kGet),
    Item(CAMPROP_BRIGHTNESS_MAX, kGet),
    Item(CAMPROP_BRIGHTNESS_DEFAULT, kGet),
    Item(CAMPROP_CONTRAST, kGetSet),
    Item(CAMPROP_CONTRAST_MIN, kGet),
    Item(CAMPROP_CONTRAST_MAX, kGet),
    Item(CAMPROP_CONTRAST_DEFAULT, kGet),
    Item(CAMPROP_SATURATION, kGetSet),
    Item(CAMPROP_SATURATION_MIN, kGet),
    Item(CAMPROP_SATURATION_MAX, kGet),
    Item(CAMPROP_SATURATION_DEFAULT, kGet),
    Item(CAMPROP_HUE, kGetSet),
    Item(CAMPROP_HUE_MIN, kGet),
    Item(CAMPROP_HUE_MAX, kGet),
    Item(CAMPROP_HUE_DEFAULT, kGet),
    Item(CAMPROP_SUBSAMPLE_STEPS, kGet),
    Item(CAMPROP_SUBSAMPLE, kGet),
    Item(CAMPROP_SENSOR_WIDTH, kGet),
    Item(CAMPROP_SENSOR_HEIGHT, kGet),
    Item(CAMPROP_ROI_X, kGet),
    Item(CAMPROP_ROI_Y, kGet),
    Item(CAMPROP_ROI_WIDTH, kGet),
    Item(CAMPROP_ROI_HEIGHT, kGet),
    Item(CAMPROP_REGION, kSet),
    Item(CAMPROP_REGION_LOCKED, kGet),
    Item(CAMPROP_EXTRIGGER_AVAILABLE, kGet),
    Item(CAMPROP_RESERVED_47, kSet),
    Item(CAMPROP_COLOR_CORRECTION, kGetSet),
    Item(CAMPROP_CLOCK, kGetSet),
    Item(CAMPROP_CLOCK_SELECTABLE, kGet),
    Item(CAMPROP_FLIP_H_AVAILABLE, kGet),
    Item(CAMPROP_FLIP_V_AVAILABLE, kGet),
    Item(CAMPROP_AGC_AVAILABLE, kGet),
    Item(CAMPROP_AEC_AVAILABLE, kGet),
    Item(CAMPROP_AGC, kGetSet),
    Item(CAMPROP_AEC, kGetSet),
    Item(CAMPROP_SENSOR_REGISTER, kSet),
    Item(CAMPROP_REGISTER_SHADOW, kGetSet),
    Item(CAMPROP_RAW_COMMAND, kSet),
    Item(CAMPROP_MEMORY_BYTE, kGetSet),
    Item(CAMPROP_COLOR_GAIN_MIN, kGet),
    Item(CAMPROP_COLOR_GAIN_MAX, kGet),
    Item(CAMPROP_COLOR_GAIN_RED, kGetSet),
    Item(CAMPROP_COLOR_GAIN_GREEN1, kGetSet),
    Item(CAMPROP_COLOR_GAIN_GREEN2, kGetSet),
    Item(CAMPROP_COLOR_GAIN_BLUE, kGetSet),
    Item(CAMPROP_RELOAD_SETTINGS, kSet),
    Item(CAMPROP_COLOR_GAIN_DIALOG, kGet),
    Item(CAMPROP_DOT, kGetSet),
    Item(CAMPROP_DOT_THRESHOLD, kGetSet),
};

// A model's table is a prefix of this one, so item i must have id i.
static_assert(RowsInIdOrder(kCameraPropertyItems, &KSPROPERTY_ITEM::PropertyId),
              "items in id order without gaps");

} // namespace zyn
