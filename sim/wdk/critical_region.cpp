#include "sim/wdk/critical_region.h"

#include "sim/wdk/verifier.h"

namespace {
thread_local int t_criticalRegionDepth = 0;
}

VOID KeEnterCriticalRegion() {
    ++t_criticalRegionDepth;
}

VOID KeLeaveCriticalRegion() {
    if (t_criticalRegionDepth == 0) {
        sim::VerifierFail("KeLeaveCriticalRegion without a matching KeEnterCriticalRegion");
        return;
    }
    --t_criticalRegionDepth;
}

BOOLEAN KeAreApcsDisabled() {
    return t_criticalRegionDepth > 0;
}

namespace sim {
int CriticalRegionDepth() {
    return t_criticalRegionDepth;
}
} // namespace sim
