// Grey output at one vector width: gains, then the luma weights 77, 150 and 29 in 256ths, each
// weighted value truncated on its own (white gives 76 + 149 + 28 = 253). Compiled once per
// instruction set (see vector_isa.h).
#pragma once

#include "driver/pipeline/bayer_steps.h"
#include "driver/pipeline/pipeline_routines.h"

namespace zyn {
namespace {
namespace mono {

template <class I> struct Coefficients { typename I::V gain[3]; };

template <bool UnitGains> class Operation {
public:
    explicit Operation(const FrameSnapshot& frame)
        : writer_(frame), gain_{GainForConversion(frame.redGain),
                                GainForConversion(frame.greenGain),
                                GainForConversion(frame.blueGain)} {}

    template <class I> ZYN_VECTOR_INLINE Coefficients<I> Constants() const {
        return {{I::Set16(static_cast<SHORT>(gain_[0])), I::Set16(static_cast<SHORT>(gain_[1])),
                 I::Set16(static_cast<SHORT>(gain_[2]))}};
    }

    ZYN_VECTOR_INLINE ULONG InsideStart() const { return writer_.InsideStart(); }
    ZYN_VECTOR_INLINE void BeginRow(ULONG y) { writer_.BeginRow(y); }
    template <class I> ZYN_VECTOR_INLINE void EndSteps(const Coefficients<I>&) {}

    template <class I>
    ZYN_VECTOR_INLINE void Step(const Coefficients<I>& k, ULONG x0, const bayer::Rgb<I>& even,
                                const bayer::Rgb<I>& odd) {
        const typename I::V grey = bayer::InterleaveBytes<I>(Luma<I>(k, even), Luma<I>(k, odd));
        writer_.template Write<I>(x0, grey, grey, grey);
    }

    ZYN_VECTOR_INLINE void LastStep(ULONG x0, const bayer::Rgb<isa::Sse2>& even,
                                    const bayer::Rgb<isa::Sse2>& odd) {
        const Coefficients<isa::Sse2> k = Constants<isa::Sse2>();
        const __m128i grey =
            bayer::InterleaveBytes<isa::Sse2>(Luma<isa::Sse2>(k, even), Luma<isa::Sse2>(k, odd));
        writer_.WriteLast(x0, grey, grey, grey);
    }

private:
    // (weight x v) >> 8 is the high half of v x (weight << 8): one multiply.
    template <class I>
    ZYN_VECTOR_INLINE static typename I::V Luma(const Coefficients<I>& k, const bayer::Rgb<I>& in) {
        typename I::V red = in.red, green = in.green, blue = in.blue;
        if constexpr (!UnitGains) {
            red = bayer::ApplyGain<I>(red, k.gain[0]);
            green = bayer::ApplyGain<I>(green, k.gain[1]);
            blue = bayer::ApplyGain<I>(blue, k.gain[2]);
        }
        const typename I::V r = I::MulHiU16(red, I::Set16(77 << 8));
        const typename I::V g = I::MulHiU16(green, I::Set16(150 << 8));
        const typename I::V b = I::MulHiU16(blue, I::Set16(29 << 8));
        return I::Add16(I::Add16(r, g), b);
    }

    bayer::PixelWriter writer_;
    const USHORT gain_[3];
};

template <class I, bool UnitGains> void Run(const FrameSnapshot& frame, LONG phase) {
    Operation<UnitGains> operation(frame);
    bayer::ConvertRowsForPhase<I>(phase, frame, operation);
}

template <class I> void Convert(const FrameSnapshot& frame, LONG phase) {
    if (GainForConversion(frame.redGain) == kUnitGain &&
        GainForConversion(frame.greenGain) == kUnitGain &&
        GainForConversion(frame.blueGain) == kUnitGain) {
        Run<I, true>(frame, phase);
    } else {
        Run<I, false>(frame, phase);
    }
}

} // namespace mono
} // namespace
} // namespace zyn
