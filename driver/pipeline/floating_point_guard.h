// Saves the processor's floating-point state for the lifetime of a scope where the kernel
// requires it (32-bit x86: floating-point and vector registers belong to the interrupted
// thread). Code that needs the state saved runs only when Saved() is true; where no save is
// needed the guard does nothing and always reports saved.
#pragma once

#include "driver/wdk.h"

// The 64-bit Windows kernel keeps vector registers itself, so the x64 images never save.
#if defined(ZYN_SIMULATED) || defined(__i386__)
#define ZYN_FLOATING_POINT_SAVE 1
#else
#define ZYN_FLOATING_POINT_SAVE 0
#endif

namespace zyn {

class FloatingPointGuard {
public:
    explicit FloatingPointGuard(bool needed) {
#if ZYN_FLOATING_POINT_SAVE
        if (needed) {
            saved_ = NT_SUCCESS(KeSaveFloatingPointState(&state_));
            restore_ = saved_;
        }
#else
        UNREFERENCED_PARAMETER(needed);
#endif
    }
    ~FloatingPointGuard() {
#if ZYN_FLOATING_POINT_SAVE
        if (restore_) {
            // Restoring a state saved just before on this thread cannot fail.
            (void)KeRestoreFloatingPointState(&state_);
        }
#endif
    }
    FloatingPointGuard(const FloatingPointGuard&) = delete;
    FloatingPointGuard& operator=(const FloatingPointGuard&) = delete;

    bool Saved() const {
        return saved_;
    }

private:
    bool saved_ = true;
#if ZYN_FLOATING_POINT_SAVE
    bool restore_ = false;
    KFLOATING_SAVE state_;
#endif
};

} // namespace zyn
