#include "sim/camera/crop_sensor.h"

#include <algorithm>

namespace sim::camera {
namespace {

struct Span {
    int start;
    int length;
};

// The part [start, start + length) of an axis of `size` sensor pixels that exists.
Span Clip(int start, int length, int size) {
    const int begin = std::min(start, size);
    const int end = std::min(start + length, size);
    return {begin, end - begin};
}

} // namespace

CropSensor::CropSensor(Model model) : info_(Info(model)), registers_(info_.sensorRegisterCount, 0) {}

void CropSensor::Write(uint32_t address, uint32_t value) {
    if (address >= registers_.size()) {
        return;
    }
    registers_[address] = static_cast<uint8_t>(value);
    // Unheld writes act at once; releasing the hold applies everything collected under it.
    if (!(registers_[kHold] & 1)) {
        TakeEffect();
    }
}

uint32_t CropSensor::Register(uint32_t address) const {
    return address < registers_.size() ? registers_[address] : 0;
}

void CropSensor::Control(uint8_t selector, uint8_t value) {
    if (selector == kPowerControl) {
        powered_ = value != 0;
    } else if (selector == kStreamControl) {
        released_ = value != 0;
    }
}

void CropSensor::TakeEffect() {
    active_.mode = registers_[kMode];
    active_.direction = registers_[kDirection];
    active_.cropEnable = registers_[kCropEnable];
    for (size_t i = 0; i < active_.window.size(); ++i) {
        active_.window[i] = registers_[kCropWindow + i];
    }
}

FrameGeometry CropSensor::Geometry() const {
    const auto word = [this](int i) {
        return static_cast<int>(active_.window[2 * i]) | static_cast<int>(active_.window[2 * i + 1]) << 8;
    };
    // Sensor column u is scene column arrayWidth - marginX - 1 - u (likewise rows), so a span
    // [a, b) of the sensor is [arrayWidth - marginX - b, arrayWidth - marginX - a) of the scene.
    int x = 0, width = info_.sensorWidth;
    int y = 0, height = info_.sensorHeight;
    if (active_.cropEnable & 1) {
        const Span s = Clip(word(0), word(2), info_.arrayWidth);
        x = info_.arrayWidth - info_.marginX - (s.start + s.length);
        width = s.length;
    }
    if (active_.cropEnable & 2) {
        const Span s = Clip(word(1), word(3), info_.arrayHeight);
        y = info_.arrayHeight - info_.marginY - (s.start + s.length);
        height = s.length;
    }

    FrameGeometry g;
    g.windowX = x;
    g.windowY = y;
    g.windowWidth = width;
    g.windowHeight = height;
    g.subSample = active_.mode == kBinned2x ? 2 : 1;
    g.width = width / g.subSample;
    g.lines = height / g.subSample;
    g.pitch = g.width + (g.subSample == 2 ? kBinnedLinePadding : 0);
    g.mirrored = !(active_.direction & 2);
    g.flipped = !(active_.direction & 1);
    // Binning keeps the filter layout of the window's first pixel, so only parities matter.
    g.phase = ShiftPhase(info_.basePhase, x + (g.mirrored ? g.width - 1 : 0),
                         y + (g.flipped ? g.lines - 1 : 0));
    return g;
}

} // namespace sim::camera
