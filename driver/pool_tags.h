// Pool tags by purpose. Each block is freed with the tag it was allocated under.
#pragma once

#include "driver/wdk.h"

namespace zyn {

// The tag whose bytes in memory are a, b, c, d.
constexpr ULONG MakePoolTag(char a, char b, char c, char d) {
    return static_cast<ULONG>(static_cast<unsigned char>(a)) |
           static_cast<ULONG>(static_cast<unsigned char>(b)) << 8 |
           static_cast<ULONG>(static_cast<unsigned char>(c)) << 16 |
           static_cast<ULONG>(static_cast<unsigned char>(d)) << 24;
}

// Device, pin, filter and acquisition contexts.
constexpr ULONG kTagContext = MakePoolTag('K', 'C', 'N', 'w');
// The colour state of the image pipeline.
constexpr ULONG kTagColorState = MakePoolTag('I', 's', 'y', 'R');
// Frame buffers, the colour state's working buffer and kernel streaming edits.
constexpr ULONG kTagFrame = MakePoolTag('G', 'N', 'Q', 'h');
// Everything else: URBs, descriptors, interface information, chunk records.
constexpr ULONG kTagOther = MakePoolTag('W', 'O', 'L', 'B');

} // namespace zyn
