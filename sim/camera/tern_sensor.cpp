#include "sim/camera/tern_sensor.h"

#include <algorithm>

namespace sim::camera {

bool TernSensor::Decode(const uint8_t* packet, SensorWrite& write) {
    write = {};
    // The sensor latches the low `bits` bits of the word, the 10-bit index below the data.
    const unsigned bits = std::min<unsigned>(packet[1], 32);
    if (bits < kIndexBits) {
        return false;
    }
    uint32_t word = static_cast<uint32_t>(packet[2]) | static_cast<uint32_t>(packet[3]) << 8 |
                    static_cast<uint32_t>(packet[4]) << 16 | static_cast<uint32_t>(packet[5]) << 24;
    if (bits < 32) {
        word &= (uint32_t{1} << bits) - 1;
    }
    write.address = word & 0x3FF;
    write.value = (word >> kIndexBits) & DataMask(write.address);
    write.bits = static_cast<uint8_t>(packet[1]);
    return true;
}

void TernSensor::Write(uint32_t address, uint32_t value) {
    if (inReset_ || address >= kRegisterCount) {
        return;
    }
    registers_[address] = value & DataMask(address);
}

uint32_t TernSensor::Register(uint32_t address) const {
    return address < kRegisterCount ? registers_[address] : 0;
}

void TernSensor::HoldInReset(bool held) {
    if (held && !inReset_) {
        std::fill(registers_.begin(), registers_.end(), 0);
    }
    inReset_ = held;
}

FrameGeometry TernSensor::Geometry() const {
    const ModelInfo& info = Info(Model::Tern);
    FrameGeometry g;
    g.windowWidth = g.width = g.pitch = info.sensorWidth;
    g.windowHeight = g.lines = info.sensorHeight;
    g.phase = info.basePhase;
    return g;
}

SensorTiming TernSensor::Timing() const {
    const bool longMode = registers_[154] & 1;
    const double lines = longMode ? static_cast<double>(registers_[155] & 7) * kFrameLines
                                  : static_cast<double>(registers_[158] | registers_[159] << 6);
    const int gain = static_cast<int>(registers_[6] | (registers_[7] & 0x0F) << 6);
    SensorTiming t;
    t.framePeriod = std::max(lines, static_cast<double>(kFrameLines)) / kFrameLines;
    t.exposureTime = lines / kFrameLines;
    if (lines > 0) {
        t.brightness = lines / kDefaultExposure * (1 + gain / 512.0);
    }
    return t;
}

} // namespace sim::camera
