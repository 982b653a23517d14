#include "tests/models/tern_device_fixture.h"

#include "sim/camera/tern_sensor.h"

namespace tern_test {

std::ostream& operator<<(std::ostream& out, const Event& event) {
    const char* names[] = {"board", "board read", "sensor", "start", "other"};
    return out << names[event.kind] << "(" << event.a << ", " << event.b << ")";
}

std::vector<Event> Events(const sim::camera::Camera& camera) {
    std::vector<Event> events;
    for (const sim::camera::CommandRecord& record : camera.CommandLog()) {
        const auto& bytes = record.bytes;
        switch (record.code()) {
        case 0x25:
            events.push_back(B(bytes[1], bytes[2]));
            break;
        case 0x26:
            events.push_back(R(bytes[1]));
            break;
        case 0x04: {
            sim::camera::SensorWrite write;
            EXPECT_TRUE(sim::camera::TernSensor::Decode(bytes.data(), write));
            events.push_back(S(write.address, write.value));
            break;
        }
        case 0x0A:
            events.push_back({Event::Start, bytes[1], 0});
            break;
        default:
            events.push_back({Event::Other, record.code(), 0});
            break;
        }
    }
    return events;
}

void TernDeviceTest::SetUp() {
    DeviceTest::SetUp();
    rig_ = &MakeRig(sim::camera::Model::Tern);
    device_ = &rig_->As<zyn::tern::TernCameraDevice>();
}

std::vector<Event> TernDeviceTest::TakeEvents() {
    std::vector<Event> events = Events(rig_->camera);
    rig_->camera.ClearCommandLog();
    return events;
}

} // namespace tern_test
