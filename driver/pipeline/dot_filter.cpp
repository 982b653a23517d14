#include "driver/pipeline/pipeline_routines.h"

namespace zyn {

VOID DotFilter(const FrameSnapshot& frame, LONG threshold) {
    if (frame.width <= 4 || frame.height <= 4) {
        return;
    }
    // In place and in raster order: each sample sees its left and upper neighbours already
    // corrected, so this stays a scalar loop.
    const SIZE_T pitch = frame.workPitch;
    for (ULONG y = 2; y + 2 < frame.height; ++y) {
        PUCHAR row = frame.imageOrigin + y * pitch;
        for (ULONG x = 2; x + 2 < frame.width; ++x) {
            PUCHAR p = row + x;
            const LONG mean =
                (p[-2] + p[2] + p[-2 * static_cast<LONG_PTR>(pitch)] + p[2 * pitch]) >> 2;
            const LONG difference = p[0] > mean ? p[0] - mean : mean - p[0];
            if (difference >= threshold) {
                p[0] = static_cast<UCHAR>(mean);
            }
        }
    }
}

} // namespace zyn
