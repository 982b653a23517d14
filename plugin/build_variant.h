// What differs between the two builds of the plug-in. The 32-bit build is the fuller one: it
// offers the colours gain dialog through the page's "More..." button. The 64-bit build shows
// no such button and caps the exposure and gain ranges of its trackbars.
#pragma once

namespace zyn {

#if defined(_WIN64)
inline constexpr bool kHasColorsGainDialog = false;
inline constexpr long kTrackbarMaximumCap = 5000;
#else
inline constexpr bool kHasColorsGainDialog = true;
inline constexpr long kTrackbarMaximumCap = 0; // none
#endif

} // namespace zyn
