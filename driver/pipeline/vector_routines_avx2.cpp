// The three per-pixel families built for AVX2, with this file's compiler options.
#include "driver/pipeline/color_family.h"
#include "driver/pipeline/extended_state_guard.h"
#include "driver/pipeline/mono_family.h"
#include "driver/pipeline/white_balance_family.h"

namespace zyn {

template <>
VOID ConvertColorWith<VectorPath::Avx2>(const FrameSnapshot& frame, LONG phase,
                                        const ColorPlan& plan) {
    ZYN_REQUIRE_EXTENDED_STATE(ExtendedStateMask(VectorPath::Avx2), "the AVX2 conversion");
    color::Convert<isa::Avx2>(frame, phase, plan);
}

template <> VOID ConvertMonoWith<VectorPath::Avx2>(const FrameSnapshot& frame, LONG phase) {
    ZYN_REQUIRE_EXTENDED_STATE(ExtendedStateMask(VectorPath::Avx2), "the AVX2 conversion");
    mono::Convert<isa::Avx2>(frame, phase);
}

template <>
VOID SumColoursWith<VectorPath::Avx2>(const FrameSnapshot& frame, LONG phase, ULONG sums[3]) {
    ZYN_REQUIRE_EXTENDED_STATE(ExtendedStateMask(VectorPath::Avx2), "the AVX2 conversion");
    balance::Sum<isa::Avx2>(frame, phase, sums);
}

} // namespace zyn
