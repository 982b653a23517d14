// The extended processor state (the AVX and AVX-512 registers) and the processor features the
// kernel reports. Kernel code may use AVX only between KeSaveExtendedProcessorState and
// KeRestoreExtendedProcessorState on its own thread, at DISPATCH_LEVEL or below. The verifier
// fails a restore that is not the thread's last save, a restore on another thread, a call
// above DISPATCH_LEVEL, and a system thread that ends with a save open; a test can make saves
// fail and hide processor features.
#pragma once

#include "sim/wdk/ntstatus_codes.h"
#include "sim/wdk/wdk_types.h"

// Components of the extended state, as the platform numbers them.
#define XSTATE_MASK_LEGACY_FLOATING_POINT (1ULL << 0)
#define XSTATE_MASK_LEGACY_SSE (1ULL << 1)
#define XSTATE_MASK_LEGACY (XSTATE_MASK_LEGACY_FLOATING_POINT | XSTATE_MASK_LEGACY_SSE)
#define XSTATE_MASK_AVX (1ULL << 2)
#define XSTATE_MASK_AVX512 ((1ULL << 5) | (1ULL << 6) | (1ULL << 7))

#define PF_XMMI64_INSTRUCTIONS_AVAILABLE 10
#define PF_AVX2_INSTRUCTIONS_AVAILABLE 40
#define PF_AVX512F_INSTRUCTIONS_AVAILABLE 41

struct _KTHREAD;

typedef struct _XSTATE_SAVE {
    ULONG64 Mask;
    ULONG Mark;
    struct _KTHREAD* Thread;
    struct _XSTATE_SAVE* Prev;
} XSTATE_SAVE, *PXSTATE_SAVE;

NTSTATUS KeSaveExtendedProcessorState(ULONG64 mask, PXSTATE_SAVE save);
VOID KeRestoreExtendedProcessorState(PXSTATE_SAVE save);
// Whether the processor has the feature and the system lets code use it.
BOOLEAN ExIsProcessorFeaturePresent(ULONG feature);

namespace sim {
// While set, every KeSaveExtendedProcessorState fails with STATUS_INSUFFICIENT_RESOURCES.
void SetExtendedStateSaveFails(bool fails);
// Successful saves so far, on all threads.
uint64_t ExtendedStateSaves();
// Saves on the calling thread not yet restored.
int OpenExtendedStateSaves();
// Code that uses the registers of `mask` calls this first: a verifier failure, naming `code`,
// unless a save open on the calling thread covers them.
void RequireExtendedState(ULONG64 mask, const char* code);
// A hidden feature is reported absent, as on a processor without it. Hiding AVX2 hides
// AVX-512 too.
void HideProcessorFeature(ULONG feature, bool hidden);
} // namespace sim
