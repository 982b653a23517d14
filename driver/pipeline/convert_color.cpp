#include "driver/pipeline/bayer_sse2.h"
#include "driver/pipeline/pipeline_routines.h"

namespace zyn {
namespace {

using bayer::Rgb;

// Each output channel is built from two unsigned accumulators, one for the matrix entries
// above 0 and one for the magnitudes of the others, so every product is an unsigned multiply,
// and is (positive >> 6) - (negative >> 6), limited to 0 to 255. With the settings near neutral
// both sums fit in 16 bits and each step uses 16-bit lanes. Raised contrast and saturation can
// push them past 65535 for bright pixels; such frames use 32-bit sums, since a wrapped sum turns
// the brightest pixels dark and a saturated one tints them (white would lose half its blue).
struct MatrixCoefficients {
    __m128i positive[3][3];   // [input][output]: |entry| where the entry is above 0, else 0
    __m128i negative[3][3];   // |entry| where the entry is 0 or below, else 0
    __m128i positiveStart[3]; // the constant row, in 16-bit lanes
    __m128i negativeStart[3];
    __m128i positiveStartWide[3]; // the same in 32-bit lanes
    __m128i negativeStartWide[3];
    __m128i gain[3];
};

USHORT Magnitude(LONG entry) {
    const ULONG magnitude = entry < 0 ? 0u - static_cast<ULONG>(entry) : static_cast<ULONG>(entry);
    return magnitude > 0xFFFF ? 0xFFFF : static_cast<USHORT>(magnitude);
}

// Adds value x coefficient (at most 255 x 65535) to the two halves of a 32-bit sum.
ZYN_VECTOR_INLINE void AddWideProduct(__m128i value, __m128i coefficient, __m128i& low,
                                      __m128i& high) {
    const __m128i productLow = _mm_mullo_epi16(value, coefficient);
    const __m128i productHigh = _mm_mulhi_epu16(value, coefficient);
    low = _mm_add_epi32(low, _mm_unpacklo_epi16(productLow, productHigh));
    high = _mm_add_epi32(high, _mm_unpackhi_epi16(productLow, productHigh));
}

template <bool WideSums> class ColorOperation {
public:
    ColorOperation(const FrameSnapshot& frame, const MatrixCoefficients& coefficients)
        : writer_(frame), k_(coefficients) {}

    ZYN_VECTOR_INLINE void BeginRow(ULONG y) { writer_.BeginRow(y); }

    ZYN_VECTOR_INLINE void Step(ULONG x0, const Rgb& even, const Rgb& odd) {
        __m128i blue, green, red;
        Convert(even, odd, blue, green, red);
        writer_.Write(x0, blue, green, red);
    }

    ZYN_VECTOR_INLINE void LastStep(ULONG x0, const Rgb& even, const Rgb& odd) {
        __m128i blue, green, red;
        Convert(even, odd, blue, green, red);
        writer_.WriteLast(x0, blue, green, red);
    }

private:
    ZYN_VECTOR_INLINE void Convert(const Rgb& even, const Rgb& odd, __m128i& blue, __m128i& green,
                                   __m128i& red) const {
        const Rgb e = Transform(even);
        const Rgb o = Transform(odd);
        blue = bayer::InterleaveBytes(e.blue, o.blue);
        green = bayer::InterleaveBytes(e.green, o.green);
        red = bayer::InterleaveBytes(e.red, o.red);
    }

    // Gains, then the matrix; results limited to 255 when packed.
    ZYN_VECTOR_INLINE Rgb Transform(const Rgb& in) const {
        const __m128i red = bayer::ApplyGain(in.red, k_.gain[0]);
        const __m128i green = bayer::ApplyGain(in.green, k_.gain[1]);
        const __m128i blue = bayer::ApplyGain(in.blue, k_.gain[2]);
        return {Output<0>(red, green, blue), Output<1>(red, green, blue),
                Output<2>(red, green, blue)};
    }

    // Output channel J (0 red, 1 green, 2 blue), written out so that nothing is left to a loop.
    template <int J>
    ZYN_VECTOR_INLINE __m128i Output(__m128i red, __m128i green, __m128i blue) const {
        if constexpr (WideSums) {
            __m128i positiveLow = k_.positiveStartWide[J];
            __m128i positiveHigh = positiveLow;
            __m128i negativeLow = k_.negativeStartWide[J];
            __m128i negativeHigh = negativeLow;
            AddWideProduct(red, k_.positive[0][J], positiveLow, positiveHigh);
            AddWideProduct(green, k_.positive[1][J], positiveLow, positiveHigh);
            AddWideProduct(blue, k_.positive[2][J], positiveLow, positiveHigh);
            AddWideProduct(red, k_.negative[0][J], negativeLow, negativeHigh);
            AddWideProduct(green, k_.negative[1][J], negativeLow, negativeHigh);
            AddWideProduct(blue, k_.negative[2][J], negativeLow, negativeHigh);
            const __m128i low =
                _mm_sub_epi32(_mm_srli_epi32(positiveLow, 6), _mm_srli_epi32(negativeLow, 6));
            const __m128i high =
                _mm_sub_epi32(_mm_srli_epi32(positiveHigh, 6), _mm_srli_epi32(negativeHigh, 6));
            return _mm_max_epi16(_mm_packs_epi32(low, high), _mm_setzero_si128());
        } else {
            const __m128i positive = _mm_add_epi16(
                _mm_add_epi16(k_.positiveStart[J], _mm_mullo_epi16(red, k_.positive[0][J])),
                _mm_add_epi16(_mm_mullo_epi16(green, k_.positive[1][J]),
                              _mm_mullo_epi16(blue, k_.positive[2][J])));
            const __m128i negative = _mm_add_epi16(
                _mm_add_epi16(k_.negativeStart[J], _mm_mullo_epi16(red, k_.negative[0][J])),
                _mm_add_epi16(_mm_mullo_epi16(green, k_.negative[1][J]),
                              _mm_mullo_epi16(blue, k_.negative[2][J])));
            return _mm_subs_epu16(_mm_srli_epi16(positive, 6), _mm_srli_epi16(negative, 6));
        }
    }

    bayer::PixelWriter writer_;
    const MatrixCoefficients& k_;
};

template <bool WideSums>
void Run(const FrameSnapshot& frame, LONG phase, const MatrixCoefficients& coefficients) {
    ColorOperation<WideSums> operation(frame, coefficients);
    bayer::ConvertRowsForPhase(phase, frame, operation);
}

} // namespace

VOID ConvertColor(const FrameSnapshot& frame, LONG phase) {
    MatrixCoefficients k;
    // The largest each sum can reach, with every gained value at most 255.
    ULONG largestSum[2][3] = {};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 3; ++j) {
            const int entry = 4 * i + j;
            const USHORT magnitude = Magnitude(frame.matrix[entry]);
            const bool positive = frame.signFlags[entry] != 0;
            const USHORT onPositive = positive ? magnitude : 0;
            const USHORT onNegative = positive ? 0 : magnitude;
            const ULONG weight = i < 3 ? 255 : 1;
            largestSum[0][j] += weight * onPositive;
            largestSum[1][j] += weight * onNegative;
            if (i < 3) {
                k.positive[i][j] = _mm_set1_epi16(static_cast<SHORT>(onPositive));
                k.negative[i][j] = _mm_set1_epi16(static_cast<SHORT>(onNegative));
            } else {
                k.positiveStart[j] = _mm_set1_epi16(static_cast<SHORT>(onPositive));
                k.negativeStart[j] = _mm_set1_epi16(static_cast<SHORT>(onNegative));
                k.positiveStartWide[j] = _mm_set1_epi32(onPositive);
                k.negativeStartWide[j] = _mm_set1_epi32(onNegative);
            }
        }
    }
    k.gain[0] = _mm_set1_epi16(static_cast<SHORT>(bayer::GainForConversion(frame.redGain)));
    k.gain[1] = _mm_set1_epi16(static_cast<SHORT>(bayer::GainForConversion(frame.greenGain)));
    k.gain[2] = _mm_set1_epi16(static_cast<SHORT>(bayer::GainForConversion(frame.blueGain)));

    bool wideSums = false;
    for (int j = 0; j < 3; ++j) {
        wideSums |= largestSum[0][j] > 0xFFFF || largestSum[1][j] > 0xFFFF;
    }
    if (wideSums) {
        Run<true>(frame, phase, k);
    } else {
        Run<false>(frame, phase, k);
    }
}

} // namespace zyn
