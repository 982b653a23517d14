#include "driver/pipeline/pipeline_routines.h"

namespace zyn {

VOID ConvertMono(const FrameSnapshot& frame, LONG phase, VectorPath path) {
    switch (path) {
#if ZYN_WIDE_VECTOR_PATHS
    case VectorPath::Avx512:
        ConvertMonoWith<VectorPath::Avx512>(frame, phase);
        break;
    case VectorPath::Avx2:
        ConvertMonoWith<VectorPath::Avx2>(frame, phase);
        break;
#endif
    default:
        ConvertMonoWith<VectorPath::Sse2>(frame, phase);
        break;
    }
}

} // namespace zyn
