#include "sim/wdk/extended_state.h"

#include <atomic>

#include "sim/wdk/irql.h"
#include "sim/wdk/threads.h"
#include "sim/wdk/verifier.h"

namespace {
std::atomic<bool> g_saveFails{false};
std::atomic<uint64_t> g_saves{0};
std::atomic<bool> g_hideAvx2{false};
std::atomic<bool> g_hideAvx512{false};
thread_local PXSTATE_SAVE t_innermost = nullptr;
thread_local int t_openSaves = 0;
constexpr ULONG kSavedMark = 0x56535458; // "XTSV"
} // namespace

NTSTATUS KeSaveExtendedProcessorState(ULONG64 mask, PXSTATE_SAVE save) {
    if (!sim::CheckIrqlAtMost(DISPATCH_LEVEL, "KeSaveExtendedProcessorState")) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    if (g_saveFails.load()) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    save->Mask = mask;
    save->Mark = kSavedMark;
    save->Thread = KeGetCurrentThread();
    save->Prev = t_innermost;
    t_innermost = save;
    ++t_openSaves;
    g_saves.fetch_add(1);
    return STATUS_SUCCESS;
}

VOID KeRestoreExtendedProcessorState(PXSTATE_SAVE save) {
    if (!sim::CheckIrqlAtMost(DISPATCH_LEVEL, "KeRestoreExtendedProcessorState")) {
        return;
    }
    if (save->Mark != kSavedMark) {
        sim::VerifierFail("KeRestoreExtendedProcessorState of a state that is not saved");
        return;
    }
    if (save->Thread != KeGetCurrentThread()) {
        sim::VerifierFail("KeRestoreExtendedProcessorState on another thread than the save's");
        return;
    }
    if (save != t_innermost) {
        sim::VerifierFail("KeRestoreExtendedProcessorState of a state not saved last on this "
                          "thread");
        return;
    }
    save->Mark = 0;
    t_innermost = save->Prev;
    --t_openSaves;
}

BOOLEAN ExIsProcessorFeaturePresent(ULONG feature) {
    switch (feature) {
    case PF_XMMI64_INSTRUCTIONS_AVAILABLE:
        return TRUE;
    case PF_AVX2_INSTRUCTIONS_AVAILABLE:
        return !g_hideAvx2.load() && __builtin_cpu_supports("avx2");
    case PF_AVX512F_INSTRUCTIONS_AVAILABLE:
        return !g_hideAvx2.load() && !g_hideAvx512.load() && __builtin_cpu_supports("avx512f");
    default:
        return FALSE;
    }
}

namespace sim {
void SetExtendedStateSaveFails(bool fails) {
    g_saveFails.store(fails);
}
uint64_t ExtendedStateSaves() {
    return g_saves.load();
}
int OpenExtendedStateSaves() {
    return t_openSaves;
}

void RequireExtendedState(ULONG64 mask, const char* code) {
    ULONG64 saved = 0;
    for (PXSTATE_SAVE save = t_innermost; save != nullptr; save = save->Prev) {
        saved |= save->Mask;
    }
    if ((saved & mask) != mask) {
        VerifierFail("%s runs without the extended processor state saved (needs mask 0x%llx, "
                     "saved 0x%llx)",
                     code, static_cast<unsigned long long>(mask),
                     static_cast<unsigned long long>(saved));
    }
}

void HideProcessorFeature(ULONG feature, bool hidden) {
    if (feature == PF_AVX2_INSTRUCTIONS_AVAILABLE) {
        g_hideAvx2.store(hidden);
    } else if (feature == PF_AVX512F_INSTRUCTIONS_AVAILABLE) {
        g_hideAvx512.store(hidden);
    }
}
} // namespace sim
