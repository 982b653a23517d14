#include "driver/pipeline/white_balance.h"

#include "driver/pipeline/pipeline_routines.h"

namespace zyn {
namespace {

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

VOID GatherWhiteBalance(FrameSnapshot& frame, LONG phase, VectorPath path) {
    ULONG sums[3] = {};
    switch (path) {
#if ZYN_WIDE_VECTOR_PATHS
    case VectorPath::Avx512:
        SumColoursWith<VectorPath::Avx512>(frame, phase, sums);
        break;
    case VectorPath::Avx2:
        SumColoursWith<VectorPath::Avx2>(frame, phase, sums);
        break;
#endif
    default:
        SumColoursWith<VectorPath::Sse2>(frame, phase, sums);
        break;
    }
    WhiteBalanceGains(sums[0], sums[1], sums[2], &frame.redGain, &frame.greenGain, &frame.blueGain);
}

} // namespace zyn
