// Saving the processor's floating-point state around kernel floating-point code (needed on
// 32-bit x86). A test can make the save fail; restoring a state that was not saved on this
// thread, or restoring out of order, is a verifier failure.
#pragma once

#include "sim/wdk/ntstatus_codes.h"

typedef struct _KFLOATING_SAVE {
    ULONG Reserved[8];
} KFLOATING_SAVE, *PKFLOATING_SAVE;

NTSTATUS KeSaveFloatingPointState(PKFLOATING_SAVE save);
NTSTATUS KeRestoreFloatingPointState(PKFLOATING_SAVE save);

namespace sim {
// While set, every KeSaveFloatingPointState fails with STATUS_ILLEGAL_FLOAT_CONTEXT.
void SetFloatingPointSaveFails(bool fails);
// Successful saves so far, on all threads.
uint64_t FloatingPointSaves();
// Saves on the calling thread not yet restored.
int OpenFloatingPointSaves();
} // namespace sim
