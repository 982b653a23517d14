// Talking to the camera emulator the way a driver does: command packets, two-packet answers,
// frame reads in 64 KiB requests, and the start sequences of each model reduced to what
// shapes the frame.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/camera/camera.h"

namespace camera_test {

using sim::camera::Camera;
using Packet = std::array<uint8_t, 64>;

// A camera that sends each frame as soon as it is requested, its time moved only by the test.
sim::camera::CameraOptions Unpaced();

// Every model, and the model's name as the suffix of a parameterised test's name:
// INSTANTIATE_TEST_SUITE_P(Camera, Suite, AllModels(), ModelName).
inline auto AllModels() {
    using sim::camera::Model;
    return ::testing::Values(Model::Tern, Model::Heron, Model::Plover, Model::Egret);
}
std::string ModelName(const ::testing::TestParamInfo<sim::camera::Model>& info);

void Send(Camera& camera, std::initializer_list<uint8_t> bytes);
// Sends a command that answers and returns byte 0 of the second answer packet.
uint8_t Ask(Camera& camera, std::initializer_list<uint8_t> bytes);
// Reads one packet from the response endpoint; false when none is queued.
bool ReadAnswer(Camera& camera, Packet& packet);

void WriteBoard(Camera& camera, uint8_t reg, uint8_t value);
void WriteFrameBytes(Camera& camera, uint32_t bytes);
void WriteSensor(Camera& camera, uint32_t address, uint32_t value); // Heron, Egret, Plover

// The driver's read sequence (request, request, reads queued) without reading.
void RequestFrame(Camera& camera);

struct FrameRead {
    std::vector<uint8_t> bytes;
    int requests = 0;          // 64 KiB requests that received data
    bool endedShort = false;   // the last request ended with a short packet
};
// Reads up to `bytes` from the data endpoint in 64 KiB requests, as far as data is there.
FrameRead ReadData(Camera& camera, uint32_t bytes);
// RequestFrame, then ReadData.
FrameRead ReadFrame(Camera& camera, uint32_t bytes);

uint32_t RoundUp(uint32_t count, uint32_t multiple);

struct Window {
    int x, y, width, height;
};

// Camera start for streaming, as each model's driver programs it. Returns the frame byte count.
uint32_t StartTern(Camera& camera);
uint32_t StartCropWindow(Camera& camera, Window window, bool flipH = false, bool flipV = false);
uint32_t StartCrop2x(Camera& camera, bool flipH = false, bool flipV = false);
uint32_t StartPlover(Camera& camera, Window window);
// The flip write of Heron and Egret.
void SetCropFlips(Camera& camera, bool flipH, bool flipV);

// The Bayer phase as the Heron and Egret drivers compute it.
int DriverPhase(Window window, bool flipH, bool flipV);

} // namespace camera_test
