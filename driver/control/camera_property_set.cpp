#include "driver/control/camera_property_set.h"

#include "driver/control/camera_controls.h"
#include "driver/control/region_rule.h"
#include "driver/core/camera_device.h"
#include "driver/kernel/interlocked.h"

namespace zyn {

namespace {

constexpr LONG kColorGainReportedMinimum = 1;

// Values every model reports the same; they need no camera.
BOOLEAN FixedValue(ULONG id, LONG* value) {
    switch (id) {
    case CAMPROP_RGB_GAIN_MIN:
        *value = kColorGainReportedMinimum;
        return TRUE;
    case CAMPROP_RGB_GAIN_DEFAULT:
        *value = kDefaultColorGain;
        return TRUE;
    case CAMPROP_BRIGHTNESS_MIN:
        *value = 0;
        return TRUE;
    case CAMPROP_BRIGHTNESS_MAX:
        *value = kBrightnessMaximum;
        return TRUE;
    case CAMPROP_BRIGHTNESS_DEFAULT:
        *value = kDefaultBrightness;
        return TRUE;
    case CAMPROP_CONTRAST_MIN:
        *value = 0;
        return TRUE;
    case CAMPROP_CONTRAST_MAX:
        *value = kContrastMaximum;
        return TRUE;
    case CAMPROP_CONTRAST_DEFAULT:
        *value = kDefaultContrast;
        return TRUE;
    case CAMPROP_SATURATION_MIN:
        *value = 0;
        return TRUE;
    case CAMPROP_SATURATION_MAX:
        *value = kSaturationMaximum;
        return TRUE;
    case CAMPROP_SATURATION_DEFAULT:
        *value = kDefaultSaturation;
        return TRUE;
    case CAMPROP_HUE_MIN:
        *value = 0;
        return TRUE;
    case CAMPROP_HUE_MAX:
        *value = kHueMaximum;
        return TRUE;
    case CAMPROP_HUE_DEFAULT:
        *value = 0;
        return TRUE;
    default:
        return FALSE;
    }
}

// The colour setting behind an item, if any.
BOOLEAN ColorItem(ULONG id, ColorSetting* setting) {
    switch (id) {
    case CAMPROP_COLOR_ENABLE:
        *setting = ColorSetting::Enable;
        return TRUE;
    case CAMPROP_WHITE_BALANCE:
        *setting = ColorSetting::WhiteBalance;
        return TRUE;
    case CAMPROP_RED_GAIN:
        *setting = ColorSetting::RedGain;
        return TRUE;
    case CAMPROP_GREEN_GAIN:
        *setting = ColorSetting::GreenGain;
        return TRUE;
    case CAMPROP_BLUE_GAIN:
        *setting = ColorSetting::BlueGain;
        return TRUE;
    case CAMPROP_COLOR_CORRECTION:
        *setting = ColorSetting::Correction;
        return TRUE;
    case CAMPROP_BRIGHTNESS:
        *setting = ColorSetting::Brightness;
        return TRUE;
    case CAMPROP_CONTRAST:
        *setting = ColorSetting::Contrast;
        return TRUE;
    case CAMPROP_SATURATION:
        *setting = ColorSetting::Saturation;
        return TRUE;
    case CAMPROP_HUE:
        *setting = ColorSetting::Hue;
        return TRUE;
    default:
        return FALSE;
    }
}

CameraDevice* DeviceOfRequest(PIRP irp) {
    PKSFILTER filter = KsGetFilterFromIrp(irp);
    if (filter == nullptr) {
        return nullptr;
    }
    PKSDEVICE device = KsGetDevice(filter);
    return device != nullptr ? static_cast<CameraDevice*>(device->Context) : nullptr;
}

// GET of a scalar item: the value for the record, or a failure status.
NTSTATUS GetScalar(CameraDevice& device, ULONG id, LONG* value) {
    CameraSettings& settings = device.Settings();
    const SettingsLimits& limits = device.Traits().limits;
    ColorSetting color;
    if (ColorItem(id, &color)) {
        *value = GetColorSetting(device, color);
        return STATUS_SUCCESS;
    }
    switch (id) {
    case CAMPROP_EXTRIGGER: {
        LONG flag;
        (VOID) device.readExternalTrigger(&flag); // a camera that keeps it refreshes the record
        *value = settings.ExTrigger != 0 ? 1 : 0;
        break;
    }
    case CAMPROP_TIMEOUT:
        *value = settings.Timeout;
        break;
    case CAMPROP_EXPOSURE:
        *value = settings.Exposure;
        break;
    case CAMPROP_EXPOSURE_MIN:
        *value = limits.exposureMinimum;
        break;
    case CAMPROP_EXPOSURE_MAX:
        *value = limits.exposureMaximum;
        break;
    case CAMPROP_EXPOSURE_DEFAULT:
        *value = limits.exposureDefault;
        break;
    case CAMPROP_GAIN: {
        LONG gain;
        (VOID) device.readGain(&gain); // a sensor that answers reads refreshes the record
        *value = settings.GlobalGain;
        break;
    }
    case CAMPROP_GAIN_MIN:
        *value = 0;
        break;
    case CAMPROP_GAIN_MAX:
        *value = limits.gainMaximum;
        break;
    case CAMPROP_GAIN_DEFAULT:
        *value = limits.gainDefault;
        break;
    case CAMPROP_FLIP_H:
        *value = GetFlipH(device);
        break;
    case CAMPROP_FLIP_V:
        *value = GetFlipV(device);
        break;
    case CAMPROP_RGB_GAIN_MAX:
        *value = limits.colorGainReportedMaximum;
        break;
    case CAMPROP_SUBSAMPLE_STEPS:
        *value = limits.subSampleSteps;
        break;
    case CAMPROP_SUBSAMPLE:
        *value = settings.SubSample;
        break;
    case CAMPROP_SENSOR_WIDTH:
        *value = limits.sensorWidth;
        break;
    case CAMPROP_SENSOR_HEIGHT:
        *value = limits.sensorHeight;
        break;
    case CAMPROP_ROI_X:
        *value = settings.ReportX;
        break;
    case CAMPROP_ROI_Y:
        *value = settings.ReportY;
        break;
    case CAMPROP_ROI_WIDTH:
        *value = settings.ReportW;
        break;
    case CAMPROP_ROI_HEIGHT:
        *value = settings.ReportH;
        break;
    case CAMPROP_REGION_LOCKED:
        *value = ReadInterlocked(&settings.PinOpen);
        break;
    case CAMPROP_EXTRIGGER_AVAILABLE:
        *value = 1;
        break;
    case CAMPROP_CLOCK:
        if (limits.clockFromCamera) {
            LONG clock;
            (VOID) device.readClock(&clock); // a failed read reports the stored clock
        }
        *value = settings.Clock;
        break;
    case CAMPROP_CLOCK_SELECTABLE:
        *value = limits.clockSelectable ? 1 : 0;
        break;
    case CAMPROP_FLIP_H_AVAILABLE:
        *value = 1;
        break;
    case CAMPROP_FLIP_V_AVAILABLE:
        *value = 1;
        break;
    case CAMPROP_AGC_AVAILABLE:
        *value = 0;
        break;
    case CAMPROP_AEC_AVAILABLE:
        *value = 0;
        break;
    case CAMPROP_AGC:
        *value = settings.AGC;
        break;
    case CAMPROP_AEC:
        *value = settings.AEC;
        break;
    case CAMPROP_REGISTER_SHADOW: {
        // A sensor that answers reads is asked; otherwise the shadow tells. Compared unsigned:
        // a negative address is as far out of the shadow as a large one.
        const ULONG address = static_cast<ULONG>(settings.SelectedAddress);
        ULONG registerValue = 0;
        if (!device.readSensorRegister(address, &registerValue)) {
            registerValue = address < kRegisterShadowSize
                                ? static_cast<ULONG>(settings.RegisterShadow[address])
                                : 0;
        }
        *value = static_cast<LONG>(registerValue);
        break;
    }
    case CAMPROP_COLOR_GAIN_MIN:
    case CAMPROP_COLOR_GAIN_MAX:
    case CAMPROP_COLOR_GAIN_RED:
    case CAMPROP_COLOR_GAIN_GREEN1:
    case CAMPROP_COLOR_GAIN_GREEN2:
    case CAMPROP_COLOR_GAIN_BLUE:
    case CAMPROP_COLOR_GAIN_DIALOG:
        *value = 0;
        break;
    case CAMPROP_DOT:
        *value = settings.Dot;
        break;
    case CAMPROP_DOT_THRESHOLD:
        *value = settings.DotThreshold;
        break;
    default:
        // The set-only items (57, 59) never get here: kernel streaming answers their get with
        // STATUS_NOT_FOUND, as their items declare no get handler.
        return STATUS_UNSUCCESSFUL;
    }
    return STATUS_SUCCESS;
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
    const NTSTATUS status = GetScalar(device, id, &value);
    if (NT_SUCCESS(status)) {
        static_cast<CameraPropertyValue*>(data)->Value = value;
    }
    return status;
}

NTSTATUS Set(CameraDevice& device, ULONG id, PVOID data) {
    CameraSettings& settings = device.Settings();
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
        settings.SelectedAddress = static_cast<const CameraRawCommand*>(data)->Value;
        return STATUS_SUCCESS;
    }

    const auto* record = static_cast<const CameraPropertyValue*>(data);
    const LONG value = record->Value;
    ColorSetting color;
    if (ColorItem(id, &color)) {
        SetColorSetting(device, color, value);
        return STATUS_SUCCESS;
    }
    switch (id) {
    case CAMPROP_EXTRIGGER:
        (VOID) device.setExternalTrigger(value);
        break;
    case CAMPROP_TIMEOUT:
        SetTimeout(device, value);
        break;
    case CAMPROP_EXPOSURE:
        (VOID) device.setExposure(value);
        break;
    case CAMPROP_GAIN:
        (VOID) device.setGain(value);
        break;
    case CAMPROP_FLIP_H:
        SetFlipH(device, value);
        break;
    case CAMPROP_FLIP_V:
        SetFlipV(device, value);
        break;
    case CAMPROP_SENSOR_REGISTER: {
        // The register index travels in Value and the register value in the word behind it.
        // The model refuses an index beyond its sensor's registers.
        const ULONG index = static_cast<ULONG>(value);
        const ULONG registerValue = static_cast<ULONG>(record->Reserved);
        if (!device.writeSensorRegister(index, registerValue)) {
            return STATUS_UNSUCCESSFUL;
        }
        break;
    }
    case CAMPROP_REGISTER_SHADOW:
        settings.SelectedAddress = value;
        break;
    case CAMPROP_CLOCK:
        (VOID) device.selectClock(value);
        break;
    case CAMPROP_RELOAD_SETTINGS:
        device.PrepareForReload();
        (VOID) device.loadSettings();
        break;
    case CAMPROP_DOT:
        SetDot(device, value);
        break;
    case CAMPROP_DOT_THRESHOLD:
        SetDotThreshold(device, value);
        break;
    default:
        // Read-only values, AGC, AEC and the colour
        // gain items: accepted without effect.
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

    LONG fixed;
    if (FixedValue(id, &fixed)) {
        if (!set) {
            static_cast<CameraPropertyValue*>(data)->Value = fixed;
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

namespace {
constexpr bool IdsInOrder() {
    for (ULONG i = 0; i < kCameraPropertyIdCount; ++i) {
        if (kCameraPropertyItems[i].PropertyId != i) {
            return false;
        }
    }
    return true;
}
// A model's table is a prefix of this one, so item i must have id i.
static_assert(IdsInOrder(), "items in id order without gaps");
} // namespace

} // namespace zyn
