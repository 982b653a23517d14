// The two raw frame slots between the acquisition thread, which fills them, and the capture
// pin's process routine, which converts them. Each side reads, chooses and marks a slot in one
// short section under a spin lock of its own, so the two never interleave even on two
// processors; no section spans a frame read or a conversion.
//
// At most one slot holds a ready frame: when a newer frame becomes ready, an older one still
// waiting is dropped, so the consumer always converts the newest frame and never one older
// than a frame it already converted.
#pragma once

#include "driver/wdk.h"

namespace zyn {

class RawSlots {
public:
    enum SlotState : LONG {
        kFree = 0,
        kFilling = 1,
        kReady = 2,
        kConverting = 3,
    };
    static constexpr ULONG kSlotCount = 2;
    static constexpr ULONG kNoSlot = ~0u;

    RawSlots();
    RawSlots(const RawSlots&) = delete;
    RawSlots& operator=(const RawSlots&) = delete;

    // Opens the slots to the consumer with no frame waiting. A slot being converted stays so
    // until its conversion ends.
    VOID Open();
    // The consumer finds no frame from now on; slots not being converted become free.
    VOID Close();

    // Producer: the slot to fill next. A free slot first (A before B); otherwise the ready
    // one, whose frame is then dropped; never the slot being converted.
    ULONG BeginFill();
    // Producer: the slot holds a new frame (`filled`) or is free again. A new frame while the
    // slots are closed is dropped.
    VOID EndFill(ULONG slot, BOOLEAN filled);

    // Consumer: takes the ready slot for conversion (A before B should both be ready), or
    // kNoSlot when there is none or the slots are closed.
    ULONG BeginConvert();
    VOID EndConvert(ULONG slot);

    // Frames that became ready and were overwritten or dropped before being converted.
    ULONG Dropped() const;
    VOID ResetDropped();
    LONG State(ULONG slot) const;
    BOOLEAN IsOpen() const;

private:
    VOID DropLocked() { ++dropped_; }

    // Taken inside a critical region, so that its holder cannot be suspended by an APC while
    // it holds the slots; the spin lock keeps the other processor out.
    mutable KSPIN_LOCK lock_;
    LONG state_[kSlotCount] = {kFree, kFree};
    BOOLEAN open_ = FALSE;
    ULONG dropped_ = 0;
};

} // namespace zyn
