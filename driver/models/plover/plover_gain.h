// The Plover's analogue gain. The gain code G (0 to 119) runs in four coarse steps of 30
// (register 0x1E, 21 a step) and within each in fine steps of 0.15 dB: the 13-bit fine value is
// 4096 × 10^(−0.015 n), rounded down, where n counts ten fine steps for each coarse step below.
// It is computed in fixed point without floating point: the 60 values lie at least 0.002 from
// the next integer, far beyond the rounding error of the repeated product.
#pragma once

#include "driver/wdk.h"

namespace zyn::plover {

struct GainCode {
    ULONG fine;   // registers 0x1C (bits 0 to 7) and 0x1D (bits 8 to 12)
    ULONG coarse; // register 0x1E
};

// 10^(−0.015) in units of 2^−31.
constexpr ULONGLONG kFineStep = 2074578466ull;

constexpr ULONG FineGain(ULONG fineSteps) {
    // 4096 in units of 2^−20: each product stays below 2^63.
    ULONGLONG value = 4096ull << 20;
    for (ULONG i = 0; i < fineSteps; ++i) {
        value = (value * kFineStep + (1ull << 30)) >> 31;
    }
    return static_cast<ULONG>(value >> 20);
}

constexpr GainCode PloverGainCode(ULONG gain) {
    const ULONG coarse = gain / 30;
    return {FineGain(10 * coarse + gain % 30), 21 * coarse};
}

static_assert(PloverGainCode(0).fine == 4096 && PloverGainCode(1).fine == 3956 &&
                  PloverGainCode(30).fine == 2899 && PloverGainCode(119).fine == 533,
              "the fine gain values");

} // namespace zyn::plover
