/* The camera settings property set of the Oculix ZYN capture drivers: its identifier, the
 * property ids of every model and the three request records. Drivers, the plug-in and
 * applications share this header; the records have the same layout in 32- and 64-bit code. */
#ifndef OCULIX_ZYN_PROPERTIES_H
#define OCULIX_ZYN_PROPERTIES_H

#include <stdint.h>

#include <guiddef.h>

/* {3F263C66-0FDA-41D5-9EA8-CF2E342CEFB2}: the property set, the interface id of
 * IOculixZYNDSConfig and the class id of the plug-in's extension object. */
#define STATIC_KSPROPSETID_CameraSettings                                                          \
    0x3F263C66, 0x0FDA, 0x41D5, {                                                                  \
        0x9E, 0xA8, 0xCF, 0x2E, 0x34, 0x2C, 0xEF, 0xB2                                             \
    }
static const GUID KSPROPSETID_CameraSettings = {STATIC_KSPROPSETID_CameraSettings};

/* Property ids. Tern answers 0 to 68, Heron and Egret 0 to 60, Plover 0 to 70. */
enum CameraPropertyId {
    CAMPROP_EXTRIGGER = 0,
    CAMPROP_TIMEOUT = 1,
    CAMPROP_EXPOSURE = 2,
    CAMPROP_EXPOSURE_MIN = 3,
    CAMPROP_EXPOSURE_MAX = 4,
    CAMPROP_EXPOSURE_DEFAULT = 5,
    CAMPROP_GAIN = 6,
    CAMPROP_GAIN_MIN = 7,
    CAMPROP_GAIN_MAX = 8,
    CAMPROP_GAIN_DEFAULT = 9,
    CAMPROP_FLIP_H = 10,
    CAMPROP_FLIP_V = 11,
    CAMPROP_COLOR_ENABLE = 12,
    CAMPROP_WHITE_BALANCE = 13,
    CAMPROP_RED_GAIN = 14,
    CAMPROP_GREEN_GAIN = 15,
    CAMPROP_BLUE_GAIN = 16,
    CAMPROP_RGB_GAIN_MIN = 17,
    CAMPROP_RGB_GAIN_MAX = 18,
    CAMPROP_RGB_GAIN_DEFAULT = 19,
    CAMPROP_BRIGHTNESS = 20,
    CAMPROP_BRIGHTNESS_MIN = 21,
    CAMPROP_BRIGHTNESS_MAX = 22,
    CAMPROP_BRIGHTNESS_DEFAULT = 23,
    CAMPROP_CONTRAST = 24,
    CAMPROP_CONTRAST_MIN = 25,
    CAMPROP_CONTRAST_MAX = 26,
    CAMPROP_CONTRAST_DEFAULT = 27,
    CAMPROP_SATURATION = 28,
    CAMPROP_SATURATION_MIN = 29,
    CAMPROP_SATURATION_MAX = 30,
    CAMPROP_SATURATION_DEFAULT = 31,
    CAMPROP_HUE = 32,
    CAMPROP_HUE_MIN = 33,
    CAMPROP_HUE_MAX = 34,
    CAMPROP_HUE_DEFAULT = 35,
    CAMPROP_SUBSAMPLE_STEPS = 36,
    CAMPROP_SUBSAMPLE = 37,
    CAMPROP_SENSOR_WIDTH = 38,
    CAMPROP_SENSOR_HEIGHT = 39,
    CAMPROP_ROI_X = 40,
    CAMPROP_ROI_Y = 41,
    CAMPROP_ROI_WIDTH = 42,
    CAMPROP_ROI_HEIGHT = 43,
    CAMPROP_REGION = 44,
    CAMPROP_REGION_LOCKED = 45,
    CAMPROP_EXTRIGGER_AVAILABLE = 46,
    CAMPROP_RESERVED_47 = 47,
    CAMPROP_COLOR_CORRECTION = 48,
    CAMPROP_CLOCK = 49,
    CAMPROP_CLOCK_SELECTABLE = 50,
    CAMPROP_FLIP_H_AVAILABLE = 51,
    CAMPROP_FLIP_V_AVAILABLE = 52,
    CAMPROP_AGC_AVAILABLE = 53,
    CAMPROP_AEC_AVAILABLE = 54,
    CAMPROP_AGC = 55,
    CAMPROP_AEC = 56,
    CAMPROP_SENSOR_REGISTER = 57,
    CAMPROP_REGISTER_SHADOW = 58,
    CAMPROP_RAW_COMMAND = 59,
    CAMPROP_MEMORY_BYTE = 60,
    CAMPROP_COLOR_GAIN_MIN = 61,
    CAMPROP_COLOR_GAIN_MAX = 62,
    CAMPROP_COLOR_GAIN_RED = 63,
    CAMPROP_COLOR_GAIN_GREEN1 = 64,
    CAMPROP_COLOR_GAIN_GREEN2 = 65,
    CAMPROP_COLOR_GAIN_BLUE = 66,
    CAMPROP_RELOAD_SETTINGS = 67,
    CAMPROP_COLOR_GAIN_DIALOG = 68,
    CAMPROP_DOT = 69,
    CAMPROP_DOT_THRESHOLD = 70
};

/* Request flags in the records (the kernel streaming get and set flags). */
#define CAMERA_PROPERTY_GET 1u
#define CAMERA_PROPERTY_SET 2u

/* The scalar record: every item except 44, 59 and 60. */
typedef struct CameraPropertyValue {
    GUID Set;       /* echo of the property set */
    uint32_t Id;    /* echo of the property id */
    uint32_t Flags; /* echo of the request flags */
    int32_t Value;  /* the new value on a set, the result of a get */
    int32_t Reserved;
} CameraPropertyValue;

/* The region record of CAMPROP_REGION. */
typedef struct CameraRegionValue {
    GUID Set;
    uint32_t Id;
    uint32_t Flags;
    int32_t SubSample; /* 0 full resolution, 1 skip 2x, 2 skip 4x, 3 skip 8x */
    int32_t X;         /* sensor pixels */
    int32_t Y;
    int32_t Width;
    int32_t Height;
    int32_t Reserved;
} CameraRegionValue;

/* The record of CAMPROP_RAW_COMMAND and CAMPROP_MEMORY_BYTE. */
typedef struct CameraRawCommand {
    GUID Set;
    uint32_t Id;
    uint32_t Flags;
    int32_t Value;  /* an address for CAMPROP_MEMORY_BYTE */
    int32_t Length; /* byte count of Data for CAMPROP_RAW_COMMAND */
    uint8_t Data[64];
} CameraRawCommand;

#ifdef __cplusplus
#include <stddef.h>
static_assert(sizeof(CameraPropertyValue) == 32, "CameraPropertyValue is 32 bytes");
static_assert(offsetof(CameraPropertyValue, Id) == 16, "CameraPropertyValue.Id");
static_assert(offsetof(CameraPropertyValue, Flags) == 20, "CameraPropertyValue.Flags");
static_assert(offsetof(CameraPropertyValue, Value) == 24, "CameraPropertyValue.Value");
static_assert(sizeof(CameraRegionValue) == 48, "CameraRegionValue is 48 bytes");
static_assert(offsetof(CameraRegionValue, SubSample) == 24, "CameraRegionValue.SubSample");
static_assert(offsetof(CameraRegionValue, X) == 28, "CameraRegionValue.X");
static_assert(offsetof(CameraRegionValue, Y) == 32, "CameraRegionValue.Y");
static_assert(offsetof(CameraRegionValue, Width) == 36, "CameraRegionValue.Width");
static_assert(offsetof(CameraRegionValue, Height) == 40, "CameraRegionValue.Height");
static_assert(sizeof(CameraRawCommand) == 96, "CameraRawCommand is 96 bytes");
static_assert(offsetof(CameraRawCommand, Value) == 24, "CameraRawCommand.Value");
static_assert(offsetof(CameraRawCommand, Length) == 28, "CameraRawCommand.Length");
static_assert(offsetof(CameraRawCommand, Data) == 32, "CameraRawCommand.Data");
#endif

#endif /* OCULIX_ZYN_PROPERTIES_H */
