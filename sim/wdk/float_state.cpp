#include "sim/wdk/float_state.h"

#include <atomic>

#include "sim/wdk/verifier.h"

namespace {
std::atomic<bool> g_saveFails{false};
std::atomic<uint64_t> g_saves{0};
thread_local int t_openSaves = 0;
thread_local PKFLOATING_SAVE t_saveStack[16];
constexpr ULONG kSavedMark = 0x46505356; // "VSPF"
} // namespace

NTSTATUS KeSaveFloatingPointState(PKFLOATING_SAVE save) {
    if (g_saveFails.load()) {
        return STATUS_ILLEGAL_FLOAT_CONTEXT;
    }
    if (t_openSaves == 16) {
        sim::VerifierFail("KeSaveFloatingPointState nested more than 16 deep");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    save->Reserved[0] = kSavedMark;
    t_saveStack[t_openSaves++] = save;
    g_saves.fetch_add(1);
    return STATUS_SUCCESS;
}

NTSTATUS KeRestoreFloatingPointState(PKFLOATING_SAVE save) {
    if (t_openSaves == 0 || t_saveStack[t_openSaves - 1] != save ||
        save->Reserved[0] != kSavedMark) {
        sim::VerifierFail("KeRestoreFloatingPointState of a state not saved last on this thread");
        return STATUS_INVALID_PARAMETER;
    }
    save->Reserved[0] = 0;
    --t_openSaves;
    return STATUS_SUCCESS;
}

namespace sim {
void SetFloatingPointSaveFails(bool fails) {
    g_saveFails.store(fails);
}
uint64_t FloatingPointSaves() {
    return g_saves.load();
}
int OpenFloatingPointSaves() {
    return t_openSaves;
}
} // namespace sim
