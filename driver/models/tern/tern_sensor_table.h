// The Tern sensor's read-out sequencer program: registers 512 to 989, one 22-bit step each.
#pragma once

#include "driver/wdk.h"

namespace zyn::tern {

constexpr ULONG kSequencerFirstRegister = 512;
constexpr ULONG kSequencerSteps = 478;

extern const ULONG kSequencerProgram[kSequencerSteps];

} // namespace zyn::tern
