#include "sim/wdk/irql.h"

#include <cstdio>

#include "sim/wdk/verifier.h"

namespace {
thread_local KIRQL t_irql = PASSIVE_LEVEL;
}

KIRQL KeGetCurrentIrql() {
    return t_irql;
}

VOID KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql) {
    if (newIrql < t_irql) {
        sim::VerifierFail("KeRaiseIrql to %s from the higher %s", sim::IrqlName(newIrql),
                          sim::IrqlName(t_irql));
    }
    *oldIrql = t_irql;
    t_irql = newIrql;
}

VOID KeLowerIrql(KIRQL newIrql) {
    if (newIrql > t_irql) {
        sim::VerifierFail("KeLowerIrql to %s from the lower %s", sim::IrqlName(newIrql),
                          sim::IrqlName(t_irql));
    }
    t_irql = newIrql;
}

KIRQL KeRaiseIrqlToDpcLevel() {
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    return old;
}

namespace sim {

const char* IrqlName(KIRQL irql) {
    switch (irql) {
    case PASSIVE_LEVEL:
        return "PASSIVE_LEVEL";
    case APC_LEVEL:
        return "APC_LEVEL";
    case DISPATCH_LEVEL:
        return "DISPATCH_LEVEL";
    case HIGH_LEVEL:
        return "HIGH_LEVEL";
    default:
        break;
    }
    // A few buffers in turn, so that one message can name two unusual levels.
    thread_local char texts[4][16];
    thread_local unsigned next = 0;
    char* text = texts[next++ % 4];
    std::snprintf(text, sizeof texts[0], "IRQL %u", static_cast<unsigned>(irql));
    return text;
}

bool CheckIrqlAtMost(KIRQL highest, const char* call) {
    if (t_irql <= highest) {
        return true;
    }
    VerifierFail("%s called at %s; it requires %s or lower", call, IrqlName(t_irql),
                 IrqlName(highest));
    return false;
}

bool CheckIrqlIs(KIRQL required, const char* call) {
    if (t_irql == required) {
        return true;
    }
    VerifierFail("%s called at %s; it requires %s", call, IrqlName(t_irql), IrqlName(required));
    return false;
}

} // namespace sim
