#include "driver/core/raw_slots.h"

#include "driver/kernel/lock_guards.h"

namespace zyn {

RawSlots::RawSlots() {
    KeInitializeSpinLock(&lock_);
}

VOID RawSlots::Open() {
    CriticalRegionGuard region;
    SpinLockGuard section(&lock_);
    for (LONG& state : state_) {
        if (state != kConverting) {
            state = kFree;
        }
    }
    open_ = TRUE;
}

VOID RawSlots::Close() {
    CriticalRegionGuard region;
    SpinLockGuard section(&lock_);
    for (LONG& state : state_) {
        if (state != kConverting) {
            state = kFree;
        }
    }
    open_ = FALSE;
}

ULONG RawSlots::BeginFill() {
    CriticalRegionGuard region;
    SpinLockGuard section(&lock_);
    ULONG slot;
    if (state_[0] == kFree) {
        slot = 0;
    } else if (state_[1] == kFree) {
        slot = 1;
    } else {
        slot = state_[0] == kConverting ? 1 : 0;
        if (state_[slot] == kReady) {
            DropLocked();
        }
    }
    state_[slot] = kFilling;
    return slot;
}

VOID RawSlots::EndFill(ULONG slot, BOOLEAN filled) {
    if (slot >= kSlotCount) {
        return;
    }
    CriticalRegionGuard region;
    SpinLockGuard section(&lock_);
    if (!filled) {
        state_[slot] = kFree;
        return;
    }
    if (!open_) {
        state_[slot] = kFree;
        DropLocked();
        return;
    }
    const ULONG other = slot ^ 1;
    if (state_[other] == kReady) {
        state_[other] = kFree;
        DropLocked();
    }
    state_[slot] = kReady;
}

ULONG RawSlots::BeginConvert() {
    CriticalRegionGuard region;
    SpinLockGuard section(&lock_);
    if (!open_) {
        return kNoSlot;
    }
    for (ULONG slot = 0; slot < kSlotCount; ++slot) {
        if (state_[slot] == kReady) {
            state_[slot] = kConverting;
            return slot;
        }
    }
    return kNoSlot;
}

VOID RawSlots::EndConvert(ULONG slot) {
    if (slot >= kSlotCount) {
        return;
    }
    CriticalRegionGuard region;
    SpinLockGuard section(&lock_);
    state_[slot] = kFree;
}

ULONG RawSlots::Dropped() const {
    CriticalRegionGuard region;
    SpinLockGuard section(&lock_);
    return dropped_;
}

VOID RawSlots::ResetDropped() {
    CriticalRegionGuard region;
    SpinLockGuard section(&lock_);
    dropped_ = 0;
}

LONG RawSlots::State(ULONG slot) const {
    CriticalRegionGuard region;
    SpinLockGuard section(&lock_);
    return slot < kSlotCount ? state_[slot] : kFree;
}

BOOLEAN RawSlots::IsOpen() const {
    CriticalRegionGuard region;
    SpinLockGuard section(&lock_);
    return open_;
}

} // namespace zyn
