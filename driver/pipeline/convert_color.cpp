#include "driver/pipeline/pipeline_routines.h"

namespace zyn {
namespace {

USHORT Magnitude(LONG entry) {
    const ULONG magnitude = entry < 0 ? 0u - static_cast<ULONG>(entry) : static_cast<ULONG>(entry);
    return magnitude > 0xFFFF ? 0xFFFF : static_cast<USHORT>(magnitude);
}

// The frame's coefficients and the cheapest routine that gives exactly the same result.
ColorPlan MakePlan(const FrameSnapshot& frame) {
    ColorPlan plan;
    // The largest each sum can reach, with every gained value at most 255.
    ULONG largestSum[2][3] = {};
    bool diagonalPositive = true;
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
                plan.positive[i][j] = onPositive;
                plan.negative[i][j] = onNegative;
                diagonalPositive &= (i == j) ? onNegative == 0 : onPositive == 0;
            } else {
                plan.positiveStart[j] = onPositive;
                plan.negativeStart[j] = onNegative;
            }
        }
    }
    plan.gain[0] = GainForConversion(frame.redGain);
    plan.gain[1] = GainForConversion(frame.greenGain);
    plan.gain[2] = GainForConversion(frame.blueGain);
    for (int i = 0; i < 3; ++i) {
        plan.unitGains |= plan.gain[i] == kUnitGain ? 1 << i : 0;
    }

    bool wideSums = false;
    for (int j = 0; j < 3; ++j) {
        wideSums |= largestSum[0][j] > 0xFFFF || largestSum[1][j] > 0xFFFF;
    }
    plan.form = wideSums           ? ColorPlan::Form::Wide
                : diagonalPositive ? ColorPlan::Form::DiagonalPositive
                                   : ColorPlan::Form::General;
    return plan;
}

} // namespace

VOID ConvertColor(const FrameSnapshot& frame, LONG phase, VectorPath path) {
    const ColorPlan plan = MakePlan(frame);
    switch (path) {
#if ZYN_WIDE_VECTOR_PATHS
    case VectorPath::Avx512:
        ConvertColorWith<VectorPath::Avx512>(frame, phase, plan);
        break;
    case VectorPath::Avx2:
        ConvertColorWith<VectorPath::Avx2>(frame, phase, plan);
        break;
#endif
    default:
        ConvertColorWith<VectorPath::Sse2>(frame, phase, plan);
        break;
    }
}

} // namespace zyn
