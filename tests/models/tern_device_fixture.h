// A Tern device context on the emulated Tern camera, configured, and the camera's command log
// read back as register-level events.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

#include "driver/models/tern/tern_camera_device.h"
#include "tests/support/device_rig.h"

namespace tern_test {

// One command as the camera saw it.
struct Event {
    enum Kind { Board, BoardRead, Sensor, Start, Other } kind;
    uint32_t a = 0; // register or code
    uint32_t b = 0; // value

    bool operator==(const Event& o) const { return kind == o.kind && a == o.a && b == o.b; }
};
std::ostream& operator<<(std::ostream& out, const Event& event);

inline Event B(uint32_t reg, uint32_t value) {
    return {Event::Board, reg, value};
}
inline Event R(uint32_t reg) {
    return {Event::BoardRead, reg, 0};
}
inline Event S(uint32_t index, uint32_t value) {
    return {Event::Sensor, index, value};
}

// The camera's log as events; sensor values as the sensor takes them (cut to their width).
std::vector<Event> Events(const sim::camera::Camera& camera);

class TernDeviceTest : public camera_rig::DeviceTest {
protected:
    void SetUp() override;

    // Events since the last call (or since set-up).
    std::vector<Event> TakeEvents();

    camera_rig::DeviceRig* rig_ = nullptr;
    zyn::tern::TernCameraDevice* device_ = nullptr;
};

} // namespace tern_test
