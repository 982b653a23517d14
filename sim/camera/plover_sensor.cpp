#include "sim/camera/plover_sensor.h"

#include <algorithm>
#include <cmath>

namespace sim::camera {
namespace {

constexpr uint32_t kRegisterCount = 256;
constexpr int kLineBlankingNominal = PloverSensor::kLineBlanking;

// Window registers: 22 x bits 0-7; 23 y bits 0-3 (high nibble) and x bits 8-10; 24 y bits
// 4-10; 25 to 27 the same for width and height. Line length: 127 bits 4-11, 126 bits 0-3
// (high nibble).
enum : uint32_t {
    kX = 22,
    kXY = 23,
    kY = 24,
    kW = 25,
    kWH = 26,
    kH = 27,
    kLineLow = 126,
    kLineHigh = 127
};

// The full window at the shortest exposure, gain code 0 (v 4096, c 0).
constexpr double kNominalFrameLines = 1048 + 92;
constexpr double kNominalLineLength = 1328 + kLineBlankingNominal;
constexpr double kDefaultExposure = 1;

double Gain(int fine, int coarse) {
    return std::pow(2.0, coarse / 21.0) * 4096.0 / fine;
}

} // namespace

PloverSensor::PloverSensor() : registers_(kRegisterCount, 0) {
    // Power-on: the full active area.
    const ModelInfo& info = Info(Model::Plover);
    const int w = info.sensorWidth;
    const int h = info.sensorHeight;
    const int line = w + kLineBlanking;
    registers_[kW] = static_cast<uint8_t>(w);
    registers_[kWH] = static_cast<uint8_t>(((h & 0x0F) << 4) | ((w >> 8) & 0x07));
    registers_[kH] = static_cast<uint8_t>((h >> 4) & 0x7F);
    registers_[kLineLow] = static_cast<uint8_t>((line & 0x0F) << 4);
    registers_[kLineHigh] = static_cast<uint8_t>(line >> 4);
}

bool PloverSensor::DecodeWrite(const uint8_t* packet, SensorWrite& write) const {
    write = {};
    if (packet[1] != 2) {
        return false;
    }
    write.address = packet[2];
    write.value = packet[3];
    return true;
}

void PloverSensor::Write(uint32_t address, uint32_t value) {
    if (address < registers_.size()) {
        registers_[address] = static_cast<uint8_t>(value);
    }
}

uint32_t PloverSensor::Register(uint32_t address) const {
    return address < registers_.size() ? registers_[address] : 0;
}

FrameGeometry PloverSensor::Geometry() const {
    const auto r = [this](uint32_t a) { return static_cast<int>(registers_[a]); };
    FrameGeometry g;
    g.windowX = r(kX) | (r(kXY) & 0x07) << 8;
    g.windowY = (r(kY) & 0x7F) << 4 | r(kXY) >> 4;
    g.width = g.pitch = r(kW) | (r(kWH) & 0x07) << 8;
    g.lines = g.windowHeight = (r(kH) & 0x7F) << 4 | r(kWH) >> 4;
    const int line = r(kLineHigh) << 4 | r(kLineLow) >> 4;
    g.windowWidth = std::clamp(line - kLineBlanking, 0, g.width);
    g.phase = Info(Model::Plover).basePhase;
    return g;
}

SensorTiming PloverSensor::Timing() const {
    const auto r = [this](uint32_t a) { return static_cast<int>(registers_[a]); };
    const double frameLines = r(0x7C) | r(0x7D) << 8;
    const double shutter = r(0x08) | r(0x09) << 8;
    const double lineLength = r(kLineHigh) << 4 | r(kLineLow) >> 4;
    const int fine = r(0x1C) | (r(0x1D) & 0x1F) << 8;
    SensorTiming t;
    if (frameLines == 0 || lineLength == 0 || shutter >= frameLines || fine == 0) {
        return t;
    }
    const double nominalFrame = kNominalFrameLines * kNominalLineLength;
    t.framePeriod = frameLines * lineLength / nominalFrame;
    t.exposureTime = (frameLines - shutter) * lineLength / nominalFrame;
    t.brightness = (frameLines - shutter) / kDefaultExposure * Gain(fine, r(0x1E)) / Gain(4096, 0);
    return t;
}

} // namespace sim::camera
