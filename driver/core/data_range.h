// The capture format the pin offers: one RGB32 VIDEOINFO range per driver image, sized by the
// region of interest. The range is stored with the model's full sensor size and rewritten in
// place whenever a device's region changes (never while that device has a pin).
#pragma once

#include "driver/wdk.h"

// The platform's kernel headers name this subtype only in user-mode media headers.
#ifndef STATIC_KSDATAFORMAT_SUBTYPE_RGB32
#define STATIC_KSDATAFORMAT_SUBTYPE_RGB32                                                          \
    0xe436eb7e, 0x524f, 0x11ce, 0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70
#endif

namespace zyn {

constexpr LONG kFramesPerSecond = 30;
constexpr LONG kBytesPerPixel = 4;
constexpr LONG kBitsPerPixel = 32;
// The output width is a multiple of this.
constexpr LONG kOutputWidthStep = 8;
// Frame intervals as stored in the image; the first update replaces them (100-ns units).
constexpr LONGLONG kStoredFrameInterval = 333667;
constexpr LONGLONG kStoredMaxFrameInterval = 640000000;

// The range as a driver image stores it for a sensor of width x height pixels.
constexpr KS_DATARANGE_VIDEO StoredDataRange(LONG width, LONG height) {
    KS_DATARANGE_VIDEO range{};
    const ULONG pixels = static_cast<ULONG>(width) * static_cast<ULONG>(height);
    const ULONG imageBytes = pixels * kBytesPerPixel;
    // Bits per second at 30 frames, kept as the 32-bit value it wraps to on the large sensors.
    const LONG bitsPerSecond = static_cast<LONG>(pixels * kBitsPerPixel * kFramesPerSecond);

    range.DataRange.FormatSize = sizeof(KS_DATARANGE_VIDEO);
    range.DataRange.Flags = 0;
    range.DataRange.SampleSize = imageBytes;
    range.DataRange.Reserved = 0;
    range.DataRange.MajorFormat = GUID{STATIC_KSDATAFORMAT_TYPE_VIDEO};
    range.DataRange.SubFormat = GUID{STATIC_KSDATAFORMAT_SUBTYPE_RGB32};
    range.DataRange.Specifier = GUID{STATIC_KSDATAFORMAT_SPECIFIER_VIDEOINFO};

    range.bFixedSizeSamples = TRUE;
    range.bTemporalCompression = TRUE;
    range.StreamDescriptionFlags = 0;
    range.MemoryAllocationFlags = 0;

    KS_VIDEO_STREAM_CONFIG_CAPS& caps = range.ConfigCaps;
    caps.guid = GUID{STATIC_KSDATAFORMAT_SPECIFIER_VIDEOINFO};
    caps.VideoStandard = 0;
    caps.InputSize = SIZE{width, height};
    caps.MinCroppingSize = SIZE{width, height};
    caps.MaxCroppingSize = SIZE{width, height};
    caps.CropGranularityX = kOutputWidthStep;
    caps.CropGranularityY = 1;
    caps.CropAlignX = kOutputWidthStep;
    caps.CropAlignY = 1;
    caps.MinOutputSize = SIZE{width, height};
    caps.MaxOutputSize = SIZE{width, height};
    caps.OutputGranularityX = kOutputWidthStep;
    caps.OutputGranularityY = 1;
    caps.MinFrameInterval = kStoredFrameInterval;
    caps.MaxFrameInterval = kStoredMaxFrameInterval;
    caps.MinBitsPerSecond = bitsPerSecond;
    caps.MaxBitsPerSecond = bitsPerSecond;

    KS_VIDEOINFOHEADER& info = range.VideoInfoHeader;
    info.rcSource = RECT{0, 0, width, height};
    info.rcTarget = RECT{0, 0, 0, 0};
    info.dwBitRate = pixels * 120;
    info.dwBitErrorRate = 0;
    info.AvgTimePerFrame = kStoredFrameInterval;
    info.bmiHeader.biSize = sizeof(KS_BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = kBitsPerPixel;
    info.bmiHeader.biCompression = KS_BI_RGB;
    info.bmiHeader.biSizeImage = imageBytes;
    return range;
}

// Rewrites the range for an output of width x height pixels at `framesPerSecond` (a rate of 0
// or less counts as 30): sizes, frame intervals, image size and bit rates.
VOID UpdateDataRange(KS_DATARANGE_VIDEO* range, ULONG width, ULONG height, LONG framesPerSecond);

} // namespace zyn
