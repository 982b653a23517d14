// The vector skeleton shared by the three per-pixel families (colour, grey, white balance
// statistics): walks the working buffer in the conversion's scan order, 16 pixels per step
// with even and odd columns in separate 16-bit lanes, and demosaics each step with the 5 x 5
// linear kernels. The Bayer phase is a template argument: it decides at compile time which
// kernel runs at which site, so the inner loop has no branch. A family supplies an operation
// that receives each step's red, green and blue values.
#pragma once

#include <emmintrin.h>

#include "driver/pipeline/color_state.h"

#define ZYN_VECTOR_INLINE inline __attribute__((always_inline))

namespace zyn {
namespace bayer {

enum class Site { Red, Blue, GreenInRedRow, GreenInBlueRow };

// Site of a sample by the parity of its row and column. Phases: 0 GRBG, 1 BGGR, 2 RGGB, 3 GBRG.
constexpr Site SiteAt(int phase, int rowParity, int columnParity) {
    constexpr Site kSites[4][2][2] = {
        {{Site::GreenInRedRow, Site::Red}, {Site::Blue, Site::GreenInBlueRow}},
        {{Site::Blue, Site::GreenInBlueRow}, {Site::GreenInRedRow, Site::Red}},
        {{Site::Red, Site::GreenInRedRow}, {Site::GreenInBlueRow, Site::Blue}},
        {{Site::GreenInBlueRow, Site::Blue}, {Site::Red, Site::GreenInRedRow}},
    };
    return kSites[phase][rowParity][columnParity];
}

constexpr ULONG kStep = 16; // pixels per step

// Red, green and blue of the 8 pixels of one column parity, 0 to 255 in each 16-bit lane.
struct Rgb {
    __m128i red, green, blue;
};

// Samples around the 8 pixels of one column parity: centre, the four direct neighbours, the
// four diagonal ones and the four two steps away in the same row or column.
struct Neighbourhood {
    __m128i c, n, s, w, e, nw, ne, sw, se, n2, s2, w2, e2;
};

struct Lanes {
    __m128i even, odd;
};

// 16 samples from p on, split into even and odd columns.
ZYN_VECTOR_INLINE Lanes Split(const UCHAR* p) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return {_mm_and_si128(bytes, _mm_set1_epi16(0x00FF)), _mm_srli_epi16(bytes, 8)};
}

// The neighbourhoods of the 16 pixels starting at `centre`. Unused neighbours cost nothing:
// everything is inlined and the loads a site does not need are dropped.
ZYN_VECTOR_INLINE void Gather(const UCHAR* centre, SIZE_T pitch, Neighbourhood& even,
                              Neighbourhood& odd) {
    const Lanes up2 = Split(centre - 2 * pitch);
    const Lanes upLeft = Split(centre - pitch - 2);
    const Lanes up = Split(centre - pitch);
    const Lanes upRight = Split(centre - pitch + 2);
    const Lanes left = Split(centre - 2);
    const Lanes here = Split(centre);
    const Lanes right = Split(centre + 2);
    const Lanes downLeft = Split(centre + pitch - 2);
    const Lanes down = Split(centre + pitch);
    const Lanes downRight = Split(centre + pitch + 2);
    const Lanes down2 = Split(centre + 2 * pitch);

    even.c = here.even;
    even.w = left.odd;
    even.e = here.odd;
    even.w2 = left.even;
    even.e2 = right.even;
    even.n = up.even;
    even.s = down.even;
    even.nw = upLeft.odd;
    even.ne = up.odd;
    even.sw = downLeft.odd;
    even.se = down.odd;
    even.n2 = up2.even;
    even.s2 = down2.even;

    odd.c = here.odd;
    odd.w = here.even;
    odd.e = right.even;
    odd.w2 = left.odd;
    odd.e2 = right.odd;
    odd.n = up.odd;
    odd.s = down.odd;
    odd.nw = up.even;
    odd.ne = upRight.even;
    odd.sw = down.even;
    odd.se = downRight.even;
    odd.n2 = up2.odd;
    odd.s2 = down2.odd;
}

// A negative sum becomes 0, then the sum is rounded, scaled down and limited to 255.
template <int Round, int Shift> ZYN_VECTOR_INLINE __m128i Finish(__m128i sum) {
    sum = _mm_max_epi16(sum, _mm_setzero_si128());
    sum = _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(Round)), Shift);
    return _mm_min_epi16(sum, _mm_set1_epi16(255));
}

ZYN_VECTOR_INLINE __m128i Add(__m128i a, __m128i b) {
    return _mm_add_epi16(a, b);
}
ZYN_VECTOR_INLINE __m128i Sub(__m128i a, __m128i b) {
    return _mm_sub_epi16(a, b);
}
template <int Bits> ZYN_VECTOR_INLINE __m128i Shl(__m128i a) {
    return _mm_slli_epi16(a, Bits);
}

// Green at a red or blue site.
ZYN_VECTOR_INLINE __m128i GreenAtRedOrBlue(const Neighbourhood& p) {
    const __m128i cross = Add(Add(p.n, p.s), Add(p.w, p.e));
    const __m128i distant = Add(Add(p.n2, p.s2), Add(p.w2, p.e2));
    return Finish<4, 3>(Sub(Add(Shl<2>(p.c), Shl<1>(cross)), distant));
}

// Red at a blue site, blue at a red site.
ZYN_VECTOR_INLINE __m128i Diagonal(const Neighbourhood& p) {
    const __m128i diagonal = Add(Add(p.nw, p.ne), Add(p.sw, p.se));
    const __m128i distant = Add(Add(p.n2, p.s2), Add(p.w2, p.e2));
    const __m128i twelve = Add(Shl<3>(p.c), Shl<2>(p.c));
    return Finish<8, 4>(Sub(Add(twelve, Shl<2>(diagonal)), Add(Shl<1>(distant), distant)));
}

// At a green site: the colour of its left and right neighbours (horizontal) and of its upper
// and lower neighbours (vertical).
ZYN_VECTOR_INLINE void GreenSiteColours(const Neighbourhood& p, __m128i& horizontal,
                                        __m128i& vertical) {
    const __m128i diagonal = Add(Add(p.nw, p.ne), Add(p.sw, p.se));
    const __m128i common = Sub(Add(Shl<3>(p.c), Shl<1>(p.c)), Shl<1>(diagonal));
    const __m128i rowFar = Add(p.w2, p.e2);
    const __m128i columnFar = Add(p.n2, p.s2);
    horizontal =
        Finish<8, 4>(Add(Sub(Add(common, Shl<3>(Add(p.w, p.e))), Shl<1>(rowFar)), columnFar));
    vertical =
        Finish<8, 4>(Add(Sub(Add(common, Shl<3>(Add(p.n, p.s))), Shl<1>(columnFar)), rowFar));
}

template <Site S> ZYN_VECTOR_INLINE Rgb Demosaic(const Neighbourhood& p) {
    if constexpr (S == Site::Red) {
        return {p.c, GreenAtRedOrBlue(p), Diagonal(p)};
    } else if constexpr (S == Site::Blue) {
        return {Diagonal(p), GreenAtRedOrBlue(p), p.c};
    } else {
        __m128i horizontal, vertical;
        GreenSiteColours(p, horizontal, vertical);
        if constexpr (S == Site::GreenInRedRow) {
            return {horizontal, p.c, vertical};
        } else {
            return {vertical, p.c, horizontal};
        }
    }
}

// One row: every full step, then the last, partial step whose pixels beyond the width the
// operation discards.
template <Site EvenSite, Site OddSite, class Operation>
ZYN_VECTOR_INLINE void ConvertRow(const FrameSnapshot& frame, ULONG y, Operation& operation) {
    const SIZE_T pitch = frame.workPitch;
    const UCHAR* row = frame.imageOrigin + static_cast<SIZE_T>(y) * pitch;
    const ULONG fullEnd = frame.width & ~(kStep - 1);
    operation.BeginRow(y);
    Neighbourhood even, odd;
    ULONG x0 = 0;
    for (; x0 < fullEnd; x0 += kStep) {
        Gather(row + x0, pitch, even, odd);
        operation.Step(x0, Demosaic<EvenSite>(even), Demosaic<OddSite>(odd));
    }
    if (x0 < frame.width) {
        Gather(row + x0, pitch, even, odd);
        operation.LastStep(x0, Demosaic<EvenSite>(even), Demosaic<OddSite>(odd));
    }
}

// The whole frame, top to bottom, both row types of the phase unrolled.
template <int Phase, class Operation>
void ConvertRows(const FrameSnapshot& frame, Operation& operation) {
    constexpr Site kEvenRowEven = SiteAt(Phase, 0, 0);
    constexpr Site kEvenRowOdd = SiteAt(Phase, 0, 1);
    constexpr Site kOddRowEven = SiteAt(Phase, 1, 0);
    constexpr Site kOddRowOdd = SiteAt(Phase, 1, 1);
    ULONG y = 0;
    for (; y + 1 < frame.height; y += 2) {
        ConvertRow<kEvenRowEven, kEvenRowOdd>(frame, y, operation);
        ConvertRow<kOddRowEven, kOddRowOdd>(frame, y + 1, operation);
    }
    if (y < frame.height) {
        ConvertRow<kEvenRowEven, kEvenRowOdd>(frame, y, operation);
    }
}

// Runs the operation with the routine generated for the phase (0 to 3).
template <class Operation>
void ConvertRowsForPhase(LONG phase, const FrameSnapshot& frame, Operation& operation) {
    switch (phase & 3) {
    case 0:
        ConvertRows<0>(frame, operation);
        break;
    case 1:
        ConvertRows<1>(frame, operation);
        break;
    case 2:
        ConvertRows<2>(frame, operation);
        break;
    default:
        ConvertRows<3>(frame, operation);
        break;
    }
}

// The per-frame form of a gain (128 = 1.0) for ApplyGain: twice the gain, limited to 32767
// first. From 32767 up every non-zero value comes out as 255 anyway, so a gain of 65536 or
// more gives 255 rather than what is left of it modulo 65536, and a negative one gives 0.
inline USHORT GainForConversion(LONG gain) {
    const LONG limited = gain <= 0 ? 0 : gain > 32767 ? 32767 : gain;
    return static_cast<USHORT>(limited * 2);
}

// min(255, floor(v x gain / 128)) for values 0 to 255: (v x 256) x (2 x gain) / 65536.
ZYN_VECTOR_INLINE __m128i ApplyGain(__m128i value, __m128i doubledGain) {
    const __m128i scaled = _mm_mulhi_epu16(_mm_slli_epi16(value, 8), doubledGain);
    return _mm_sub_epi16(scaled, _mm_subs_epu16(scaled, _mm_set1_epi16(255)));
}

// Even and odd lanes (values 0 to 255 and beyond, limited to 255) as 16 bytes in pixel order.
ZYN_VECTOR_INLINE __m128i InterleaveBytes(__m128i even, __m128i odd) {
    const __m128i packed = _mm_packus_epi16(even, odd);
    return _mm_unpacklo_epi8(packed, _mm_srli_si128(packed, 8));
}

// 16 pixels as blue, green, red, 255.
ZYN_VECTOR_INLINE void StorePixels(UCHAR* out, __m128i blue, __m128i green, __m128i red) {
    const __m128i alpha = _mm_set1_epi8(-1);
    const __m128i blueGreenLow = _mm_unpacklo_epi8(blue, green);
    const __m128i blueGreenHigh = _mm_unpackhi_epi8(blue, green);
    const __m128i redAlphaLow = _mm_unpacklo_epi8(red, alpha);
    const __m128i redAlphaHigh = _mm_unpackhi_epi8(red, alpha);
    __m128i* target = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(target + 0, _mm_unpacklo_epi16(blueGreenLow, redAlphaLow));
    _mm_storeu_si128(target + 1, _mm_unpackhi_epi16(blueGreenLow, redAlphaLow));
    _mm_storeu_si128(target + 2, _mm_unpacklo_epi16(blueGreenHigh, redAlphaHigh));
    _mm_storeu_si128(target + 3, _mm_unpackhi_epi16(blueGreenHigh, redAlphaHigh));
}

// Writes the step's pixels: all 16, or for the last step of a row only those inside the width.
class PixelWriter {
public:
    explicit PixelWriter(const FrameSnapshot& frame) : frame_(frame) {}

    ZYN_VECTOR_INLINE void BeginRow(ULONG y) {
        row_ = frame_.output + static_cast<SIZE_T>(y) * frame_.width * 4;
    }
    ZYN_VECTOR_INLINE void Write(ULONG x0, __m128i blue, __m128i green, __m128i red) {
        StorePixels(row_ + static_cast<SIZE_T>(x0) * 4, blue, green, red);
    }
    ZYN_VECTOR_INLINE void WriteLast(ULONG x0, __m128i blue, __m128i green, __m128i red) {
        alignas(16) UCHAR pixels[kStep * 4];
        StorePixels(pixels, blue, green, red);
        RtlCopyMemory(row_ + static_cast<SIZE_T>(x0) * 4, pixels,
                      static_cast<SIZE_T>(frame_.width - x0) * 4);
    }

private:
    const FrameSnapshot& frame_;
    PUCHAR row_ = nullptr;
};

} // namespace bayer
} // namespace zyn
