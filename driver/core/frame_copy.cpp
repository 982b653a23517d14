#include "driver/core/frame_copy.h"

namespace zyn {

namespace {

constexpr ULONG kPixelBytes = 4;

ULONG RowStep(const FrameLayout& layout) {
    const ULONG rowBytes = layout.width * kPixelBytes;
    return layout.stride > rowBytes ? layout.stride : rowBytes;
}

VOID CopyRowMirrored(const ULONG* source, ULONG* destination, ULONG width) {
    for (ULONG j = 0; j < width; ++j) {
        destination[width - 1 - j] = source[j];
    }
}

} // namespace

ULONGLONG ClientFrameExtent(const FrameLayout& layout) {
    if (layout.height == 0) {
        return 0;
    }
    return static_cast<ULONGLONG>(layout.height - 1) * RowStep(layout) +
           static_cast<ULONGLONG>(layout.width) * kPixelBytes;
}

VOID CopyFrameToClient(const UCHAR* rgb, const FrameLayout& layout, FrameOrientation orientation,
                       PUCHAR destination) {
    const SIZE_T sourcePitch = static_cast<SIZE_T>(layout.sourceWidth) * kPixelBytes;
    const SIZE_T step = RowStep(layout);
    const SIZE_T rowBytes = static_cast<SIZE_T>(layout.width) * kPixelBytes;
    for (ULONG row = 0; row < layout.height; ++row) {
        const ULONG sourceRow = orientation.topDown ? row : layout.sourceHeight - 1 - row;
        const UCHAR* source = rgb + sourceRow * sourcePitch;
        PUCHAR target = destination + row * step;
        if (orientation.mirror) {
            CopyRowMirrored(reinterpret_cast<const ULONG*>(source),
                            reinterpret_cast<ULONG*>(target), layout.width);
        } else {
            RtlCopyMemory(target, source, rowBytes);
        }
    }
}

} // namespace zyn
