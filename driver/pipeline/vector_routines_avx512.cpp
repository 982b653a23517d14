// The three per-pixel families built for AVX-512BW, with this file's compiler options.
#include "driver/pipeline/color_family.h"
#include "driver/pipeline/extended_state_guard.h"
#include "driver/pipeline/mono_family.h"
#include "driver/pipeline/white_balance_family.h"

namespace zyn {

template <>
VOID ConvertColorWith<VectorPath::Avx512>(const FrameSnapshot& frame, LONG phase,
                                          const ColorPlan& plan) {
    ZYN_REQUIRE_EXTENDED_STATE(ExtendedStateMask(VectorPath::Avx512), "the AVX-512BW conversion");
    color::Convert<isa::Avx512>(frame, phase, plan);
}

template <> VOID ConvertMonoWith<VectorPath::Avx512>(const FrameSnapshot& frame, LONG phase) {
    ZYN_REQUIRE_EXTENDED_STATE(ExtendedStateMask(VectorPath::Avx512), "the AVX-512BW conversion");
    mono::Convert<isa::Avx512>(frame, phase);
}

template <>
VOID SumColoursWith<VectorPath::Avx512>(const FrameSnapshot& frame, LONG phase, ULONG sums[3]) {
    ZYN_REQUIRE_EXTENDED_STATE(ExtendedStateMask(VectorPath::Avx512), "the AVX-512BW conversion");
    balance::Sum<isa::Avx512>(frame, phase, sums);
}

} // namespace zyn
