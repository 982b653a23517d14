// The Tern sensor's serial register word: a 10-bit register index in bits 0 to 9 and the data
// above it. The index range decides the data width and how many bits the board shifts out.
#pragma once

#include "driver/wdk.h"

namespace zyn::tern {

constexpr ULONG kSensorRegisterCount = 1024;
constexpr ULONG kSensorIndexBits = 10;

constexpr ULONG SensorDataMask(ULONG index) {
    return index < 256 ? 0x3F : index < 384 ? 0xFFFF : 0x3FFFFF;
}

constexpr UCHAR SensorShiftBits(ULONG index) {
    return index < 256 ? 16 : index < 384 ? 26 : 32;
}

constexpr ULONG SensorWord(ULONG index, ULONG value) {
    return ((value & SensorDataMask(index)) << kSensorIndexBits) + index;
}

} // namespace zyn::tern
