#include "driver/pipeline/bayer_sse2.h"
#include "driver/pipeline/pipeline_routines.h"

namespace zyn {
namespace {

using bayer::Rgb;

class MonoOperation {
public:
    explicit MonoOperation(const FrameSnapshot& frame)
        : writer_(frame),
          redGain_(_mm_set1_epi16(static_cast<short>(bayer::GainForConversion(frame.redGain)))),
          greenGain_(_mm_set1_epi16(static_cast<short>(bayer::GainForConversion(frame.greenGain)))),
          blueGain_(_mm_set1_epi16(static_cast<short>(bayer::GainForConversion(frame.blueGain)))) {}

    ZYN_VECTOR_INLINE void BeginRow(ULONG y) { writer_.BeginRow(y); }

    ZYN_VECTOR_INLINE void Step(ULONG x0, const Rgb& even, const Rgb& odd) {
        const __m128i grey = bayer::InterleaveBytes(Luma(even), Luma(odd));
        writer_.Write(x0, grey, grey, grey);
    }

    ZYN_VECTOR_INLINE void LastStep(ULONG x0, const Rgb& even, const Rgb& odd) {
        const __m128i grey = bayer::InterleaveBytes(Luma(even), Luma(odd));
        writer_.WriteLast(x0, grey, grey, grey);
    }

private:
    // Each weighted value truncated on its own: white gives 76 + 149 + 28 = 253.
    ZYN_VECTOR_INLINE __m128i Luma(const Rgb& in) const {
        const __m128i red = bayer::ApplyGain(in.red, redGain_);
        const __m128i green = bayer::ApplyGain(in.green, greenGain_);
        const __m128i blue = bayer::ApplyGain(in.blue, blueGain_);
        const __m128i r = _mm_srli_epi16(_mm_mullo_epi16(red, _mm_set1_epi16(77)), 8);
        const __m128i g = _mm_srli_epi16(_mm_mullo_epi16(green, _mm_set1_epi16(150)), 8);
        const __m128i b = _mm_srli_epi16(_mm_mullo_epi16(blue, _mm_set1_epi16(29)), 8);
        return _mm_add_epi16(_mm_add_epi16(r, g), b);
    }

    bayer::PixelWriter writer_;
    const __m128i redGain_;
    const __m128i greenGain_;
    const __m128i blueGain_;
};

} // namespace

VOID ConvertMono(const FrameSnapshot& frame, LONG phase) {
    MonoOperation operation(frame);
    bayer::ConvertRowsForPhase(phase, frame, operation);
}

} // namespace zyn
