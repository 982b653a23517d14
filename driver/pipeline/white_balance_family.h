// The white balance statistics at one vector width: the demosaiced values without gains,
// summed per colour in 32-bit lanes that wrap like the 32-bit totals they add up to. Compiled
// once per instruction set (see vector_isa.h).
#pragma once

#include "driver/pipeline/bayer_steps.h"
#include "driver/pipeline/pipeline_routines.h"

namespace zyn {
namespace {
namespace balance {

template <class I> struct Nothing {};

// Pairs of lanes (at most 2 x 510) added into 32-bit lanes.
template <class I>
ZYN_VECTOR_INLINE void Accumulate(typename I::V even, typename I::V odd, typename I::V& sum) {
    sum = I::Add32(sum, I::MulAddPairs(I::Add16(even, odd), I::Set16(1)));
}

// The sums are kept at the widest width; a narrower step's sums are added into the low lanes.
template <class Wide> class SumOperation {
public:
    explicit SumOperation(const FrameSnapshot& frame) {
        // Lanes of the last step of a row that lie inside the width.
        const ULONG tail = frame.width % isa::Sse2::kPixels;
        alignas(16) SHORT evenMask[8];
        alignas(16) SHORT oddMask[8];
        for (ULONG k = 0; k < 8; ++k) {
            evenMask[k] = tail == 0 || 2 * k < tail ? -1 : 0;
            oddMask[k] = tail == 0 || 2 * k + 1 < tail ? -1 : 0;
        }
        evenMask_ = _mm_load_si128(reinterpret_cast<const __m128i*>(evenMask));
        oddMask_ = _mm_load_si128(reinterpret_cast<const __m128i*>(oddMask));
    }

    template <class I> ZYN_VECTOR_INLINE Nothing<I> Constants() const { return {}; }

    ZYN_VECTOR_INLINE void BeginRow(ULONG) {}

    template <class I>
    ZYN_VECTOR_INLINE void Step(const Nothing<I>&, ULONG, const bayer::Rgb<I>& even,
                                const bayer::Rgb<I>& odd) {
        if constexpr (I::kPixels == Wide::kPixels) {
            Accumulate<I>(even.red, odd.red, red_);
            Accumulate<I>(even.green, odd.green, green_);
            Accumulate<I>(even.blue, odd.blue, blue_);
        } else {
            Accumulate<I>(even.red, odd.red, Narrow<I>(0));
            Accumulate<I>(even.green, odd.green, Narrow<I>(1));
            Accumulate<I>(even.blue, odd.blue, Narrow<I>(2));
        }
    }

    ZYN_VECTOR_INLINE void LastStep(ULONG, const bayer::Rgb<isa::Sse2>& even,
                                    const bayer::Rgb<isa::Sse2>& odd) {
        using S = isa::Sse2;
        const bayer::Rgb<S> e = {S::And(even.red, evenMask_), S::And(even.green, evenMask_),
                                 S::And(even.blue, evenMask_)};
        const bayer::Rgb<S> o = {S::And(odd.red, oddMask_), S::And(odd.green, oddMask_),
                                 S::And(odd.blue, oddMask_)};
        Step<S>(Nothing<S>{}, 0, e, o);
    }

    VOID Totals(ULONG sums[3]) const {
        sums[0] = Total(red_, 0);
        sums[1] = Total(green_, 1);
        sums[2] = Total(blue_, 2);
    }

private:
    template <class I> ZYN_VECTOR_INLINE typename I::V& Narrow(int colour) {
        if constexpr (I::kPixels == 16) {
            return narrow16_[colour];
        } else {
            return narrow32_[colour];
        }
    }

    ULONG Total(const typename Wide::V& wide, int colour) const {
        ULONG total = Wide::Total32(wide) + isa::Sse2::Total32(narrow16_[colour]);
        if constexpr (Wide::kPixels > 32) {
            total += Wide::Half::Total32(narrow32_[colour]);
        }
        return total;
    }

    __m128i evenMask_;
    __m128i oddMask_;
    typename Wide::V red_ = Wide::Zero();
    typename Wide::V green_ = Wide::Zero();
    typename Wide::V blue_ = Wide::Zero();
    __m128i narrow16_[3] = {isa::Sse2::Zero(), isa::Sse2::Zero(), isa::Sse2::Zero()};
    // Sums of 32-pixel steps inside a 64-pixel routine (unused below that).
    typename Wide::Half::V narrow32_[3] = {Wide::Half::Zero(), Wide::Half::Zero(),
                                           Wide::Half::Zero()};
};

template <class I> void Sum(const FrameSnapshot& frame, LONG phase, ULONG sums[3]) {
    SumOperation<I> operation(frame);
    bayer::ConvertRowsForPhase<I>(phase, frame, operation);
    operation.Totals(sums);
}

} // namespace balance
} // namespace
} // namespace zyn
