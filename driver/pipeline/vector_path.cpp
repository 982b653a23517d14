#include "driver/pipeline/vector_path.h"

#if ZYN_WIDE_VECTOR_PATHS
#include <cpuid.h>
#endif

namespace zyn {
namespace {

#if defined(ZYN_SIMULATED)
static_assert(kStateAvx == XSTATE_MASK_AVX && kStateAvx512 == XSTATE_MASK_AVX512);
#endif

#if ZYN_WIDE_VECTOR_PATHS
// The state components the system saves on a thread switch (XCR0); without them a path's
// registers would not survive one, whatever the processor has.
bool SystemEnables(ULONG64 components) {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & bit_OSXSAVE) == 0) {
        return false;
    }
    unsigned int low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    const ULONG64 enabled = (static_cast<ULONG64>(high) << 32) | low;
    return (enabled & components) == components;
}

// The kernel reports AVX-512 Foundation only; the families need its byte and word operations.
bool ProcessorHasAvx512Bw() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_AVX512BW) != 0;
}
#endif

} // namespace

ULONG SupportedVectorPaths() {
    ULONG paths = VectorPathBit(VectorPath::Sse2);
#if ZYN_WIDE_VECTOR_PATHS
    if (ExIsProcessorFeaturePresent(PF_AVX2_INSTRUCTIONS_AVAILABLE) &&
        SystemEnables(kStateSse | kStateAvx)) {
        paths |= VectorPathBit(VectorPath::Avx2);
        if (ExIsProcessorFeaturePresent(PF_AVX512F_INSTRUCTIONS_AVAILABLE) &&
            ProcessorHasAvx512Bw() && SystemEnables(kStateSse | kStateAvx | kStateAvx512)) {
            paths |= VectorPathBit(VectorPath::Avx512);
        }
    }
#endif
    return paths;
}

VectorPath WidestVectorPath(ULONG paths) {
    if (paths & VectorPathBit(VectorPath::Avx512)) {
        return VectorPath::Avx512;
    }
    if (paths & VectorPathBit(VectorPath::Avx2)) {
        return VectorPath::Avx2;
    }
    return VectorPath::Sse2;
}

const char* VectorPathName(VectorPath path) {
    switch (path) {
    case VectorPath::Avx2:
        return "avx2";
    case VectorPath::Avx512:
        return "avx512";
    default:
        return "sse2";
    }
}

ULONG64 ExtendedStateMask(VectorPath path) {
#if ZYN_WIDE_VECTOR_PATHS
    switch (path) {
    case VectorPath::Avx2:
        return kStateAvx;
    case VectorPath::Avx512:
        return kStateAvx | kStateAvx512;
    default:
        return 0;
    }
#else
    UNREFERENCED_PARAMETER(path);
    return 0;
#endif
}

} // namespace zyn
