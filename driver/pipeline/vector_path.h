// The vector widths the per-pixel families are built for, and which of them this processor
// and system can run. SSE2 is the baseline every x86 processor the drivers support has; the
// wider paths exist only in the 64-bit images.
#pragma once

#include "driver/wdk.h"

#if defined(__x86_64__)
#define ZYN_WIDE_VECTOR_PATHS 1
#else
#define ZYN_WIDE_VECTOR_PATHS 0
#endif

// The kernel headers of the Windows build leave these user-mode values out.
#ifndef PF_AVX2_INSTRUCTIONS_AVAILABLE
#define PF_AVX2_INSTRUCTIONS_AVAILABLE 40
#endif
#ifndef PF_AVX512F_INSTRUCTIONS_AVAILABLE
#define PF_AVX512F_INSTRUCTIONS_AVAILABLE 41
#endif

namespace zyn {

// Components of the extended processor state, numbered as the processor (XCR0) and the
// kernel's XSTATE_MASK_ values number them.
constexpr ULONG64 kStateSse = 1ull << 1;
constexpr ULONG64 kStateAvx = 1ull << 2;
constexpr ULONG64 kStateAvx512 = 7ull << 5; // opmask, upper halves of zmm0-15, zmm16-31

enum class VectorPath : LONG {
    Sse2 = 0,   // 16 pixels a step
    Avx2 = 1,   // 32
    Avx512 = 2, // 64, AVX-512BW
};
constexpr int kVectorPaths = 3;

constexpr ULONG VectorPathBit(VectorPath path) {
    return 1u << static_cast<LONG>(path);
}

// One bit (VectorPathBit) for each path the processor has and the system enables.
ULONG SupportedVectorPaths();

// The widest path among `paths`.
VectorPath WidestVectorPath(ULONG paths);

// "sse2", "avx2", "avx512".
const char* VectorPathName(VectorPath path);

// The extended processor state a path's code needs saved (0 for SSE2).
ULONG64 ExtendedStateMask(VectorPath path);

} // namespace zyn
