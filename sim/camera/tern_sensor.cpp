#include "sim/camera/tern_sensor.h"

#include <algorithm>

namespace sim::camera {

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
