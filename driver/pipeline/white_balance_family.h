// The white balance statistics at one vector width: the demosaiced values without gains,
// summed per colour in 32-bit lanes that wrap like the 32-bit totals they add up to. Compiled
// once per instruction set (see vector_isa.h).
#pragma once

#include "driver/pipeline/bayer_steps.h"
#include "driver/pipeline/pipeline_routines.h"

namespace zyn {
namespace {
namespace balance {

// Pairs of lanes (at most 2 x 510) added into 32-bit lanes.
template <class I>
ZYN_VECTOR_INLINE void Accumulate(typename I::V even, typename I::V odd, typename I::V& sum) {
    sum = I::Add32(sum, I::MulAddPairs(I::Add16(even, odd), I::Set16(1)));
}

// The sums of one run of steps of one width.
template <class I> struct Sums {
    typename I::V colour[3] = {I::Zero(), I::Zero(), I::Zero()};
};

class SumOperation {
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

    template <class I> ZYN_VECTOR_INLINE Sums<I> Constants() const { return {}; }

    // Every pixel is counted once: no step repeats another's.
    ZYN_VECTOR_INLINE ULONG InsideStart() const { return kLeadingPixels; }
    ZYN_VECTOR_INLINE void BeginRow(ULONG) {}

    template <class I>
    ZYN_VECTOR_INLINE void Step(Sums<I>& sums, ULONG, const bayer::Rgb<I>& even,
                                const bayer::Rgb<I>& odd) {
        Accumulate<I>(even.red, odd.red, sums.colour[0]);
        Accumulate<I>(even.green, odd.green, sums.colour[1]);
        Accumulate<I>(even.blue, odd.blue, sums.colour[2]);
    }

    // Lanes wrap like the 32-bit totals they add up to, so adding them up per run is exact.
    template <class I> ZYN_VECTOR_INLINE void EndSteps(const Sums<I>& sums) {
        for (int k = 0; k < 3; ++k) {
            totals_[k] += I::Total32(sums.colour[k]);
        }
    }

    ZYN_VECTOR_INLINE void LastStep(ULONG, const bayer::Rgb<isa::Sse2>& even,
                                    const bayer::Rgb<isa::Sse2>& odd) {
        using S = isa::Sse2;
        const bayer::Rgb<S> e = {S::And(even.red, evenMask_), S::And(even.green, evenMask_),
                                 S::And(even.blue, evenMask_)};
        const bayer::Rgb<S> o = {S::And(odd.red, oddMask_), S::And(odd.green, oddMask_),
                                 S::And(odd.blue, oddMask_)};
        Sums<S> sums;
        Step<S>(sums, 0, e, o);
        EndSteps<S>(sums);
    }

    VOID Totals(ULONG sums[3]) const {
        for (int k = 0; k < 3; ++k) {
            sums[k] = totals_[k];
        }
    }

private:
    __m128i evenMask_;
    __m128i oddMask_;
    ULONG totals_[3] = {};
};

template <class I> void Sum(const FrameSnapshot& frame, LONG phase, ULONG sums[3]) {
    SumOperation operation(frame);
    bayer::ConvertRowsForPhase<I>(phase, frame, operation);
    operation.Totals(sums);
}

} // namespace balance
} // namespace
} // namespace zyn
