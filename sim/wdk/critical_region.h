// Kernel critical regions (normal kernel APCs disabled), counted per thread. Leaving a region
// that was never entered is a verifier failure.
#pragma once

#include "sim/wdk/wdk_types.h"

VOID KeEnterCriticalRegion();
VOID KeLeaveCriticalRegion();
BOOLEAN KeAreApcsDisabled();

namespace sim {
// How deep the calling thread is inside critical regions.
int CriticalRegionDepth();
} // namespace sim
