// The second pass over a frame whose demosaiced values the white balance statistics already
// wrote into the output (blue, green, red, 255, without gains): each step reads I::kPixels of
// those pixels, hands their red, green and blue to the family's operation as 16-bit lanes and
// writes the operation's outputs over them. The operations are per pixel, so the lanes may be
// in any order as long as they go back where they came from; the order here is the one that
// packing 32-bit pixels into 16-bit lanes and unpacking them again gives for free.
//
// An operation supplies Constants<I>() and Outputs<I>(constants, rgb), which returns each
// output channel in 16-bit lanes, 0 and up (above 255 is limited here).
#pragma once

#include "driver/pipeline/bayer_steps.h"

namespace zyn {
namespace {
namespace kept {

// One channel (at bit Shift of each 32-bit pixel) of two vectors of pixels, as 16-bit lanes.
template <class I, int Shift>
ZYN_VECTOR_INLINE typename I::V Channel(typename I::V first, typename I::V second) {
    const typename I::V byte = I::Set32(0xFF);
    return I::PackSat16(I::And(I::template Shr32<Shift>(first), byte),
                        I::And(I::template Shr32<Shift>(second), byte));
}

template <class I>
ZYN_VECTOR_INLINE bayer::Rgb<I> Unpack(typename I::V first, typename I::V second) {
    return {Channel<I, 16>(first, second), Channel<I, 8>(first, second),
            Channel<I, 0>(first, second)};
}

// The inverse of Unpack, with every channel limited to 255 and alpha 255.
template <class I>
ZYN_VECTOR_INLINE void Pack(const bayer::Rgb<I>& out, typename I::V& first, typename I::V& second) {
    const typename I::V limit = I::Set16(255);
    const typename I::V blueGreen =
        I::Or(I::Min16(out.blue, limit), I::template Shl16<8>(I::Min16(out.green, limit)));
    const typename I::V redAlpha =
        I::Or(I::Min16(out.red, limit), I::Set16(static_cast<SHORT>(0xFF00)));
    first = I::UnpackLo16(blueGreen, redAlpha);
    second = I::UnpackHi16(blueGreen, redAlpha);
}

// I::kPixels pixels at p, in place.
template <class I, bool Stream, class Operation, class Constants>
ZYN_VECTOR_INLINE void Step(UCHAR* p, const Constants& k, Operation& operation) {
    constexpr SIZE_T kQuarter = I::kPixels; // bytes of a quarter of the step's pixels
    typename I::V v[4];
    for (int q = 0; q < 4; ++q) {
        v[q] = I::Load(p + q * kQuarter);
    }
    Pack<I>(operation.template Outputs<I>(k, Unpack<I>(v[0], v[1])), v[0], v[1]);
    Pack<I>(operation.template Outputs<I>(k, Unpack<I>(v[2], v[3])), v[2], v[3]);
    for (int q = 0; q < 4; ++q) {
        if constexpr (Stream) {
            I::Stream(p + q * kQuarter, v[q]);
        } else {
            I::Store(p + q * kQuarter, v[q]);
        }
    }
}

// Full steps of width I from x0 while they fit in the row, then of the narrower widths.
template <class I, bool Stream, class Operation>
ZYN_VECTOR_INLINE ULONG FullSteps(PUCHAR row, ULONG x0, ULONG width, Operation& operation) {
    const auto k = operation.template Constants<I>();
    for (; x0 + I::kPixels <= width; x0 += I::kPixels) {
        Step<I, Stream>(row + static_cast<SIZE_T>(x0) * 4, k, operation);
    }
    if constexpr (I::kPixels > isa::Sse2::kPixels) {
        x0 = FullSteps<typename I::Half, Stream>(row, x0, width, operation);
    }
    return x0;
}

// Every row of the output; a row's last pixels that make no full step go through a copy, so
// that nothing past the row is read or written.
template <class I, bool Stream, class Operation>
void ConvertRows(const FrameSnapshot& frame, Operation& operation) {
    const ULONG width = frame.width;
    for (ULONG y = 0; y < frame.height; ++y) {
        const PUCHAR row = frame.output + static_cast<LONG_PTR>(y) * frame.outputPitch;
        const ULONG x0 = FullSteps<I, Stream>(row, 0, width, operation);
        if (x0 < width) {
            alignas(16) UCHAR pixels[isa::Sse2::kPixels * 4] = {};
            const SIZE_T bytes = static_cast<SIZE_T>(width - x0) * 4;
            RtlCopyMemory(pixels, row + static_cast<SIZE_T>(x0) * 4, bytes);
            Step<isa::Sse2, false>(pixels, operation.template Constants<isa::Sse2>(), operation);
            RtlCopyMemory(row + static_cast<SIZE_T>(x0) * 4, pixels, bytes);
        }
    }
    if constexpr (Stream) {
        _mm_sfence();
    }
}

template <class I, class Operation> void Convert(const FrameSnapshot& frame, Operation& operation) {
    if (bayer::CanStream(frame)) {
        ConvertRows<I, true>(frame, operation);
    } else {
        ConvertRows<I, false>(frame, operation);
    }
}

} // namespace kept
} // namespace
} // namespace zyn
