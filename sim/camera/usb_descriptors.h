// The camera's USB descriptors: a high-speed vendor-specific device with one configuration,
// one interface (alternate setting 0) and three bulk endpoints in pipe order.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/camera/camera_model.h"

namespace sim::camera {

constexpr uint8_t kCommandEndpoint = 0x01;  // pipe 0: command packets, host to camera
constexpr uint8_t kResponseEndpoint = 0x81; // pipe 1: answers
constexpr uint8_t kDataEndpoint = 0x82;     // pipe 2: raw frames
constexpr uint16_t kBulkPacketSize = 512;   // high-speed bulk wMaxPacketSize

std::vector<uint8_t> BuildDeviceDescriptor(const ModelInfo& info);
std::vector<uint8_t> BuildConfigurationDescriptor();

} // namespace sim::camera
