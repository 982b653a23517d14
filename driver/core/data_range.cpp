#include "driver/core/data_range.h"

namespace zyn {

VOID UpdateDataRange(KS_DATARANGE_VIDEO* range, ULONG width, ULONG height, LONG framesPerSecond) {
    const ULONG rate = framesPerSecond > 0 ? static_cast<ULONG>(framesPerSecond)
                                           : static_cast<ULONG>(kFramesPerSecond);
    const LONG w = static_cast<LONG>(width);
    const LONG h = static_cast<LONG>(height);
    const ULONG pixels = width * height;

    KS_VIDEO_STREAM_CONFIG_CAPS& caps = range->ConfigCaps;
    caps.InputSize = SIZE{w, h};
    caps.MinCroppingSize = SIZE{w, h};
    caps.MaxCroppingSize = SIZE{w, h};
    caps.MinOutputSize = SIZE{w, h};
    caps.MaxOutputSize = SIZE{w, h};

    const LONGLONG interval = 10000000 / static_cast<LONGLONG>(rate);
    caps.MinFrameInterval = interval;
    caps.MaxFrameInterval = interval;
    range->VideoInfoHeader.AvgTimePerFrame = interval;

    const ULONG imageBytes = pixels * kBytesPerPixel;
    range->DataRange.SampleSize = imageBytes;
    range->VideoInfoHeader.bmiHeader.biSizeImage = imageBytes;
    // Wraps to 32 bits on the large sensors, as the range has always reported it.
    const LONG bitsPerSecond = static_cast<LONG>(pixels * rate * kBitsPerPixel);
    caps.MinBitsPerSecond = bitsPerSecond;
    caps.MaxBitsPerSecond = bitsPerSecond;
    range->VideoInfoHeader.dwBitRate = pixels * 120;

    range->VideoInfoHeader.rcSource.right = w;
    range->VideoInfoHeader.rcSource.bottom = h;
    range->VideoInfoHeader.bmiHeader.biWidth = w;
    range->VideoInfoHeader.bmiHeader.biHeight = h;
}

} // namespace zyn
