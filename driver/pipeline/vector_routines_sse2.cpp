// The three per-pixel families built for SSE2, with this file's compiler options.
#include "driver/pipeline/color_family.h"
#include "driver/pipeline/extended_state_guard.h"
#include "driver/pipeline/mono_family.h"
#include "driver/pipeline/white_balance_family.h"

namespace zyn {

template <>
VOID ConvertColorWith<VectorPath::Sse2>(const FrameSnapshot& frame, LONG phase,
                                        const ColorPlan& plan) {
    color::Convert<isa::Sse2>(frame, phase, plan);
}

template <> VOID ConvertMonoWith<VectorPath::Sse2>(const FrameSnapshot& frame, LONG phase) {
    mono::Convert<isa::Sse2>(frame, phase);
}

template <>
VOID SumColoursWith<VectorPath::Sse2>(const FrameSnapshot& frame, LONG phase, ULONG sums[3]) {
    balance::Sum<isa::Sse2>(frame, phase, sums);
}

} // namespace zyn
