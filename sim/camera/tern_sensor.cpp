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

} // namespace sim::camera
