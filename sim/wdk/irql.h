// Interrupt request levels, one per thread. Code that needs a low IRQL reports a verifier
// failure when called above it.
#pragma once

#include "sim/wdk/wdk_types.h"

#define PASSIVE_LEVEL 0
#define LOW_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
#define HIGH_LEVEL 15

KIRQL KeGetCurrentIrql();
// Raising to a lower level than the current one, or lowering to a higher one, is a verifier
// failure, as on the platform.
VOID KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql);
VOID KeLowerIrql(KIRQL newIrql);
KIRQL KeRaiseIrqlToDpcLevel();

namespace sim {

// "PASSIVE_LEVEL", "DISPATCH_LEVEL", or the number.
const char* IrqlName(KIRQL irql);

// Reports a verifier failure naming `call` when the calling thread runs above `highest`;
// returns whether the IRQL was acceptable.
bool CheckIrqlAtMost(KIRQL highest, const char* call);
// The same for calls that need exactly `required`.
bool CheckIrqlIs(KIRQL required, const char* call);

} // namespace sim
