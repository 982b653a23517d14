#include "sim/camera/crop_sensor.h"

#include <algorithm>
#include <cmath>

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

CropSensor::CropSensor(Model model, NominalTiming nominal)
    : info_(Info(model)), nominal_(nominal), registers_(info_.sensorRegisterCount, 0) {}

bool CropSensor::DecodeWrite(const uint8_t* packet, SensorWrite& write) const {
    write = {};
    write.address = static_cast<uint32_t>(packet[1]) << 8 | packet[2];
    write.value = packet[3];
    return true;
}

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

void CropSensor::StartStreaming() {
    Write(kDirection, 3);
    Control(kPowerControl, 1);
    Control(kStreamControl, 1);
}

void CropSensor::TakeEffect() {
    active_.mode = registers_[kMode];
    active_.direction = registers_[kDirection];
    active_.cropEnable = registers_[kCropEnable];
    for (size_t i = 0; i < active_.window.size(); ++i) {
        active_.window[i] = registers_[kCropWindow + i];
    }
}

SensorTiming CropSensor::Timing() const {
    const auto field = [this](uint32_t address, int bytes, uint32_t topMask) {
        uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) {
            v = v << 8 | registers_[address + i];
        }
        return v & topMask;
    };
    const double frameLines = field(0x210, 3, 0xFFFFF);
    const double lineLength = field(0x214, 2, 0x1FFF);
    const double shutter = field(0x28D, 3, 0xFFFFF);
    const int gain = static_cast<int>(field(0x404, 2, 0x1FF));
    SensorTiming t;
    if (frameLines == 0 || lineLength == 0 || shutter >= frameLines) {
        return t;
    }
    const double nominalFrame = nominal_.frameLines * nominal_.lineLength;
    const double exposureLines = frameLines - shutter;
    t.framePeriod = frameLines * lineLength / nominalFrame;
    t.exposureTime = exposureLines * lineLength / nominalFrame;
    // Counted in lines: a narrower window shortens the line but the renderer does not model
    // the flux per line time, so a region change alone keeps the picture's level.
    t.brightness = exposureLines / nominal_.exposureLines * std::pow(10.0, gain / 200.0);
    return t;
}

FrameGeometry CropSensor::Geometry() const {
    const auto word = [this](int i) {
        return static_cast<int>(active_.window[2 * i]) | static_cast<int>(active_.window[2 * i + 1])
                                                             << 8;
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
