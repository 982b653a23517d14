#include "driver/core/frame_copy.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define ZYN_STREAMING_STORES 1
#endif

namespace zyn {

namespace {

constexpr ULONG kPixelBytes = 4;

#if defined(ZYN_STREAMING_STORES)
// The client's frame is not read again here, so its rows are written around the caches:
// without reading each line in first, a frame costs about two thirds of the memory traffic.
// (The 64-bit kernel keeps vector registers across thread switches; the 32-bit one would
// have to save them, and copies plainly.)
VOID CopyRowStreaming(const UCHAR* source, PUCHAR destination, SIZE_T bytes) {
    const SIZE_T head = (16 - (reinterpret_cast<ULONG_PTR>(destination) & 15)) & 15;
    if (head >= bytes) {
        RtlCopyMemory(destination, source, bytes);
        return;
    }
    RtlCopyMemory(destination, source, head);
    SIZE_T done = head;
    for (; done + 64 <= bytes; done += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + done), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + done + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + done + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + done + 48), d);
    }
    for (; done + 16 <= bytes; done += 16) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + done),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done)));
    }
    RtlCopyMemory(destination + done, source + done, bytes - done);
}
#endif

VOID CopyRow(const UCHAR* source, PUCHAR destination, SIZE_T bytes) {
#if defined(ZYN_STREAMING_STORES)
    CopyRowStreaming(source, destination, bytes);
#else
    RtlCopyMemory(destination, source, bytes);
#endif
}

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

BOOLEAN DirectClientRows(const FrameLayout& layout, FrameOrientation orientation,
                         PUCHAR destination, ClientRows* rows) {
    if (orientation.mirror || layout.width != layout.sourceWidth ||
        layout.height != layout.sourceHeight || layout.height == 0 || destination == nullptr) {
        return FALSE;
    }
    const LONG_PTR step = static_cast<LONG_PTR>(RowStep(layout));
    if (orientation.topDown) {
        rows->firstRow = destination;
        rows->rowStep = step;
    } else {
        rows->firstRow = destination + static_cast<LONG_PTR>(layout.height - 1) * step;
        rows->rowStep = -step;
    }
    return TRUE;
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
            CopyRow(source, target, rowBytes);
        }
    }
#if defined(ZYN_STREAMING_STORES)
    // The streamed rows are visible to whoever completes the frame.
    _mm_sfence();
#endif
}

} // namespace zyn
