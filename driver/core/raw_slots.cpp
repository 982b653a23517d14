#include "driver/core/raw_slots.h"

namespace zyn {

// A critical region keeps the section's owner from being suspended by an APC while it holds
// the slots; the spin lock keeps the other processor out.
class RawSlots::Section {
public:
    explicit Section(PKSPIN_LOCK lock) : lock_(lock) {
        KeEnterCriticalRegion();
        KeAcquireSpinLock(lock_, &irql_);
    }
    ~Section() {
        KeReleaseSpinLock(lock_, irql_);
        KeLeaveCriticalRegion();
    }
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

private:
    PKSPIN_LOCK lock_;
    KIRQL irql_ = PASSIVE_LEVEL;
};

RawSlots::RawSlots() { KeInitializeSpinLock(&lock_); }

VOID RawSlots::Open() {
    Section section(&lock_);
    for (LONG& state : state_) {
        if (state != kConverting) {
            state = kFree;
        }
    }
    open_ = TRUE;
}

VOID RawSlots::Close() {
    Section section(&lock_);
    for (LONG& state : state_) {
        if (state != kConverting) {
            state = kFree;
        }
    }
    open_ = FALSE;
}

ULONG RawSlots::BeginFill() {
    Section section(&lock_);
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
    Section section(&lock_);
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
    Section section(&lock_);
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
    Section section(&lock_);
    state_[slot] = kFree;
}

ULONG RawSlots::Dropped() const {
    Section section(&lock_);
    return dropped_;
}

VOID RawSlots::ResetDropped() {
    Section section(&lock_);
    dropped_ = 0;
}

LONG RawSlots::State(ULONG slot) const {
    Section section(&lock_);
    return slot < kSlotCount ? state_[slot] : kFree;
}

BOOLEAN RawSlots::IsOpen() const {
    Section section(&lock_);
    return open_;
}

} // namespace zyn
