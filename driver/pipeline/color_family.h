// Colour output at one vector width: gains, then the fixed-point colour matrix, in the form the
// frame's plan chose. Compiled once per instruction set (see vector_isa.h).
#pragma once

#include "driver/pipeline/bayer_steps.h"
#include "driver/pipeline/pipeline_routines.h"

namespace zyn {
namespace {
namespace color {

// The plan's numbers as vectors of one width, made before a run of steps so that they stay in
// registers (the output stores could alias a plan in memory, the locals they cannot).
template <class I> struct Coefficients {
    typename I::V positive[3][3], negative[3][3];
    typename I::V positiveStart[3], negativeStart[3];
    typename I::V gain[3];

    explicit Coefficients(const ColorPlan& plan, bool wide) {
        for (int j = 0; j < 3; ++j) {
            for (int i = 0; i < 3; ++i) {
                positive[i][j] = I::Set16(static_cast<SHORT>(plan.positive[i][j]));
                negative[i][j] = I::Set16(static_cast<SHORT>(plan.negative[i][j]));
            }
            positiveStart[j] = wide ? I::Set32(plan.positiveStart[j])
                                    : I::Set16(static_cast<SHORT>(plan.positiveStart[j]));
            negativeStart[j] = wide ? I::Set32(plan.negativeStart[j])
                                    : I::Set16(static_cast<SHORT>(plan.negativeStart[j]));
            gain[j] = I::Set16(static_cast<SHORT>(plan.gain[j]));
        }
    }
};

// Adds value x coefficient (at most 255 x 65535) to the two halves of a 32-bit sum.
template <class I>
ZYN_VECTOR_INLINE void AddWideProduct(typename I::V value, typename I::V coefficient,
                                      typename I::V& low, typename I::V& high) {
    const typename I::V productLow = I::MulLo16(value, coefficient);
    const typename I::V productHigh = I::MulHiU16(value, coefficient);
    low = I::Add32(low, I::UnpackLo16(productLow, productHigh));
    high = I::Add32(high, I::UnpackHi16(productLow, productHigh));
}

// UnitGains: one bit per channel (1 red, 2 green, 4 blue) whose gain is 128 and needs no
// multiply.
template <ColorPlan::Form Form, int UnitGains> class Operation {
public:
    Operation(const FrameSnapshot& frame, const ColorPlan& plan) : writer_(frame), plan_(plan) {}

    template <class I> ZYN_VECTOR_INLINE Coefficients<I> Constants() const {
        return Coefficients<I>(plan_, Form == ColorPlan::Form::Wide);
    }

    ZYN_VECTOR_INLINE ULONG InsideStart() const { return writer_.InsideStart(); }
    ZYN_VECTOR_INLINE void BeginRow(ULONG y) { writer_.BeginRow(y); }
    template <class I> ZYN_VECTOR_INLINE void EndSteps(const Coefficients<I>&) {}

    template <class I>
    ZYN_VECTOR_INLINE void Step(const Coefficients<I>& k, ULONG x0, const bayer::Rgb<I>& even,
                                const bayer::Rgb<I>& odd) {
        typename I::V blue, green, red;
        Convert<I>(k, even, odd, blue, green, red);
        writer_.template Write<I>(x0, blue, green, red);
    }

    ZYN_VECTOR_INLINE void LastStep(ULONG x0, const bayer::Rgb<isa::Sse2>& even,
                                    const bayer::Rgb<isa::Sse2>& odd) {
        const Coefficients<isa::Sse2> k = Constants<isa::Sse2>();
        __m128i blue, green, red;
        Convert<isa::Sse2>(k, even, odd, blue, green, red);
        writer_.WriteLast(x0, blue, green, red);
    }

private:
    template <class I>
    ZYN_VECTOR_INLINE static void Convert(const Coefficients<I>& k, const bayer::Rgb<I>& even,
                                          const bayer::Rgb<I>& odd, typename I::V& blue,
                                          typename I::V& green, typename I::V& red) {
        const bayer::Rgb<I> e = Transform<I>(k, even);
        const bayer::Rgb<I> o = Transform<I>(k, odd);
        blue = bayer::InterleaveBytes<I>(e.blue, o.blue);
        green = bayer::InterleaveBytes<I>(e.green, o.green);
        red = bayer::InterleaveBytes<I>(e.red, o.red);
    }

    // Gains, then the matrix; results above 255 are limited when packed.
    template <class I>
    ZYN_VECTOR_INLINE static bayer::Rgb<I> Transform(const Coefficients<I>& k,
                                                     const bayer::Rgb<I>& in) {
        typename I::V value[3] = {in.red, in.green, in.blue};
        if constexpr ((UnitGains & 1) == 0) {
            value[0] = bayer::ApplyGain<I>(value[0], k.gain[0]);
        }
        if constexpr ((UnitGains & 2) == 0) {
            value[1] = bayer::ApplyGain<I>(value[1], k.gain[1]);
        }
        if constexpr ((UnitGains & 4) == 0) {
            value[2] = bayer::ApplyGain<I>(value[2], k.gain[2]);
        }
        return {Output<I, 0>(k, value), Output<I, 1>(k, value), Output<I, 2>(k, value)};
    }

    // Output channel J (0 red, 1 green, 2 blue).
    template <class I, int J>
    ZYN_VECTOR_INLINE static typename I::V Output(const Coefficients<I>& k,
                                                  const typename I::V value[3]) {
        if constexpr (Form == ColorPlan::Form::Wide) {
            typename I::V positiveLow = k.positiveStart[J];
            typename I::V positiveHigh = positiveLow;
            typename I::V negativeLow = k.negativeStart[J];
            typename I::V negativeHigh = negativeLow;
            for (int i = 0; i < 3; ++i) {
                AddWideProduct<I>(value[i], k.positive[i][J], positiveLow, positiveHigh);
                AddWideProduct<I>(value[i], k.negative[i][J], negativeLow, negativeHigh);
            }
            const typename I::V low =
                I::Sub32(I::template Shr32<6>(positiveLow), I::template Shr32<6>(negativeLow));
            const typename I::V high =
                I::Sub32(I::template Shr32<6>(positiveHigh), I::template Shr32<6>(negativeHigh));
            return I::Max16(I::PackSat16(low, high), I::Zero());
        } else if constexpr (Form == ColorPlan::Form::DiagonalPositive) {
            // The entries that are 0 on a sum add nothing to it: leave their products out.
            constexpr int kOther1 = (J + 1) % 3;
            constexpr int kOther2 = (J + 2) % 3;
            const typename I::V positive =
                I::Add16(k.positiveStart[J], I::MulLo16(value[J], k.positive[J][J]));
            const typename I::V negative = I::Add16(
                I::Add16(k.negativeStart[J], I::MulLo16(value[kOther1], k.negative[kOther1][J])),
                I::MulLo16(value[kOther2], k.negative[kOther2][J]));
            return I::SubSatU16(I::template Shr16<6>(positive), I::template Shr16<6>(negative));
        } else {
            const typename I::V positive =
                I::Add16(I::Add16(k.positiveStart[J], I::MulLo16(value[0], k.positive[0][J])),
                         I::Add16(I::MulLo16(value[1], k.positive[1][J]),
                                  I::MulLo16(value[2], k.positive[2][J])));
            const typename I::V negative =
                I::Add16(I::Add16(k.negativeStart[J], I::MulLo16(value[0], k.negative[0][J])),
                         I::Add16(I::MulLo16(value[1], k.negative[1][J]),
                                  I::MulLo16(value[2], k.negative[2][J])));
            return I::SubSatU16(I::template Shr16<6>(positive), I::template Shr16<6>(negative));
        }
    }

    bayer::PixelWriter writer_;
    const ColorPlan& plan_;
};

template <class I, ColorPlan::Form Form, int UnitGains>
void Run(const FrameSnapshot& frame, LONG phase, const ColorPlan& plan) {
    Operation<Form, UnitGains> operation(frame, plan);
    bayer::ConvertRowsForPhase<I>(phase, frame, operation);
}

template <class I, ColorPlan::Form Form>
void RunForGains(const FrameSnapshot& frame, LONG phase, const ColorPlan& plan) {
    // All gains 128 (no white balance, gains untouched), or green alone (white balance).
    if (plan.unitGains == 7) {
        Run<I, Form, 7>(frame, phase, plan);
    } else if (plan.unitGains == 2) {
        Run<I, Form, 2>(frame, phase, plan);
    } else {
        Run<I, Form, 0>(frame, phase, plan);
    }
}

// The routine for the plan's form and gains.
template <class I> void Convert(const FrameSnapshot& frame, LONG phase, const ColorPlan& plan) {
    switch (plan.form) {
    case ColorPlan::Form::Wide:
        Run<I, ColorPlan::Form::Wide, 0>(frame, phase, plan);
        break;
    case ColorPlan::Form::DiagonalPositive:
        RunForGains<I, ColorPlan::Form::DiagonalPositive>(frame, phase, plan);
        break;
    default:
        RunForGains<I, ColorPlan::Form::General>(frame, phase, plan);
        break;
    }
}

} // namespace color
} // namespace
} // namespace zyn
