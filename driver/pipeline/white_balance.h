// Grey-world white balance gains from the colour sums of one frame.
#pragma once

#include "driver/wdk.h"

namespace zyn {

// Gains (128 = 1.0) that make the red and blue sums equal to the green sum, computed in
// double precision in the order that makes whole-number ratios truncate alike:
// red := trunc(((S / red) / 3 x 128) / ((S / green) / 3)) with S the sum of the three sums,
// likewise blue, and green := 128. Gains beyond the LONG range are limited to it. Returns
// false, changing nothing, when a sum is zero (a black frame, or one without red or blue).
bool WhiteBalanceGains(ULONG redSum, ULONG greenSum, ULONG blueSum, LONG* redGain, LONG* greenGain,
                       LONG* blueGain);

} // namespace zyn
