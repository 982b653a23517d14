#include "driver/pipeline/white_balance.h"

#include "driver/pipeline/bayer_sse2.h"
#include "driver/pipeline/pipeline_routines.h"

namespace zyn {
namespace {

using bayer::Rgb;

// Sums in 32-bit lanes, wrapping like the 32-bit totals they add up to.
class SumOperation {
public:
    explicit SumOperation(const FrameSnapshot& frame) {
        // Lanes of the last step of a row that lie inside the width.
        const ULONG tail = frame.width % bayer::kStep;
        alignas(16) SHORT evenMask[8];
        alignas(16) SHORT oddMask[8];
        for (ULONG k = 0; k < 8; ++k) {
            evenMask[k] = tail == 0 || 2 * k < tail ? -1 : 0;
            oddMask[k] = tail == 0 || 2 * k + 1 < tail ? -1 : 0;
        }
        evenMask_ = _mm_load_si128(reinterpret_cast<const __m128i*>(evenMask));
        oddMask_ = _mm_load_si128(reinterpret_cast<const __m128i*>(oddMask));
    }

    ZYN_VECTOR_INLINE void BeginRow(ULONG) {}

    ZYN_VECTOR_INLINE void Step(ULONG, const Rgb& even, const Rgb& odd) {
        Accumulate(even.red, odd.red, red_);
        Accumulate(even.green, odd.green, green_);
        Accumulate(even.blue, odd.blue, blue_);
    }

    ZYN_VECTOR_INLINE void LastStep(ULONG, const Rgb& even, const Rgb& odd) {
        Accumulate(_mm_and_si128(even.red, evenMask_), _mm_and_si128(odd.red, oddMask_), red_);
        Accumulate(_mm_and_si128(even.green, evenMask_), _mm_and_si128(odd.green, oddMask_),
                   green_);
        Accumulate(_mm_and_si128(even.blue, evenMask_), _mm_and_si128(odd.blue, oddMask_), blue_);
    }

    ULONG Red() const { return Total(red_); }
    ULONG Green() const { return Total(green_); }
    ULONG Blue() const { return Total(blue_); }

private:
    ZYN_VECTOR_INLINE static void Accumulate(__m128i even, __m128i odd, __m128i& sum) {
        // Pairs of lanes (at most 2 x 510) added into 32-bit lanes.
        sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_add_epi16(even, odd), _mm_set1_epi16(1)));
    }

    static ULONG Total(__m128i sum) {
        alignas(16) ULONG lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sum);
        return lanes[0] + lanes[1] + lanes[2] + lanes[3];
    }

    __m128i evenMask_;
    __m128i oddMask_;
    __m128i red_ = _mm_setzero_si128();
    __m128i green_ = _mm_setzero_si128();
    __m128i blue_ = _mm_setzero_si128();
};

LONG TruncateGain(double gain) {
    constexpr double kLargest = 2147483647.0;
    return gain >= kLargest ? static_cast<LONG>(2147483647) : static_cast<LONG>(gain);
}

} // namespace

bool WhiteBalanceGains(ULONG redSum, ULONG greenSum, ULONG blueSum, LONG* redGain, LONG* greenGain,
                       LONG* blueGain) {
    if (redSum == 0 || greenSum == 0 || blueSum == 0) {
        return false;
    }
    const double red = redSum;
    const double green = greenSum;
    const double blue = blueSum;
    const double total = red + green + blue;
    const double greenShare = (total / green) / 3;
    *redGain = TruncateGain(((total / red) / 3 * 128) / greenShare);
    *blueGain = TruncateGain(((total / blue) / 3 * 128) / greenShare);
    *greenGain = 128;
    return true;
}

VOID GatherWhiteBalance(FrameSnapshot& frame, LONG phase) {
    SumOperation sums(frame);
    bayer::ConvertRowsForPhase(phase, frame, sums);
    WhiteBalanceGains(sums.Red(), sums.Green(), sums.Blue(), &frame.redGain, &frame.greenGain,
                      &frame.blueGain);
}

} // namespace zyn
