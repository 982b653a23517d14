// Saves the extended processor state (AVX, AVX-512) for the lifetime of a scope, on the
// converting thread, as the 64-bit kernel requires around code that uses those registers.
// Code that needs it runs only when Saved() is true; a mask of 0 (SSE2, whose registers the
// 64-bit kernel keeps itself) needs no save and always reports saved.
#pragma once

#include "driver/pipeline/vector_path.h"

namespace zyn {

class ExtendedStateGuard {
public:
    explicit ExtendedStateGuard(ULONG64 mask) {
#if ZYN_WIDE_VECTOR_PATHS
        if (mask != 0) {
            saved_ = NT_SUCCESS(KeSaveExtendedProcessorState(mask, &state_));
            restore_ = saved_;
        }
#else
        UNREFERENCED_PARAMETER(mask);
#endif
    }
    ~ExtendedStateGuard() {
#if ZYN_WIDE_VECTOR_PATHS
        if (restore_) {
            KeRestoreExtendedProcessorState(&state_);
        }
#endif
    }
    ExtendedStateGuard(const ExtendedStateGuard&) = delete;
    ExtendedStateGuard& operator=(const ExtendedStateGuard&) = delete;

    bool Saved() const {
        return saved_;
    }

private:
    bool saved_ = true;
#if ZYN_WIDE_VECTOR_PATHS
    bool restore_ = false;
    XSTATE_SAVE state_;
#endif
};

} // namespace zyn

// At the entry of code that uses the registers of `mask`: in the simulated build, a verifier
// failure unless a save covers them on this thread.
#if defined(ZYN_SIMULATED)
#define ZYN_REQUIRE_EXTENDED_STATE(mask, code) sim::RequireExtendedState((mask), (code))
#else
#define ZYN_REQUIRE_EXTENDED_STATE(mask, code) ((void)0)
#endif
