#include "tests/models/model_rig.h"

#include <gtest/gtest.h>

#include <cstring>

#include "driver/models/egret/egret_camera_device.h"
#include "driver/models/heron/heron_camera_device.h"
#include "driver/models/plover/plover_camera_device.h"
#include "driver/models/tern/tern_camera_device.h"
#include "driver/pipeline/color_state.h"
#include "driver/pool_tags.h"
#include "sim/camera/frame_geometry.h"
#include "sim/camera/scene_fit.h"
#include "sim/imaging/bayer.h"
#include "sim/imaging/png_file.h"

namespace model_test {

namespace {

sim::camera::CameraOptions Unpaced() {
    sim::camera::CameraOptions options;
    options.frameInterval = std::chrono::nanoseconds(0);
    return options;
}

zyn::CameraDevice* MakeDevice(Model model) {
    switch (model) {
    case Model::Tern:
        return new (NonPagedPool) zyn::tern::TernCameraDevice(nullptr, zyn::tern::Globals());
    case Model::Heron:
        return new (NonPagedPool) zyn::heron::HeronCameraDevice(nullptr, zyn::heron::Globals());
    case Model::Plover:
        return new (NonPagedPool) zyn::plover::PloverCameraDevice(nullptr, zyn::plover::Globals());
    case Model::Egret:
        return new (NonPagedPool) zyn::egret::EgretCameraDevice(nullptr, zyn::egret::Globals());
    }
    return nullptr;
}

} // namespace

ModelRig::ModelRig(Model model) : camera(model, Unpaced()), bus(camera) {
    device_ = MakeDevice(model);
    if (device_ == nullptr) {
        ADD_FAILURE() << "no device context";
        return;
    }
    device_->Transport().Attach(bus.DeviceObject(), bus.DeviceObject(), nullptr);
    EXPECT_EQ(device_->Transport().Configure(), STATUS_SUCCESS);
}

ModelRig::~ModelRig() {
    if (device_ != nullptr) {
        device_->Transport().Unconfigure();
        delete device_;
    }
}

std::vector<uint8_t> ModelRig::ReadFrame() {
    const ULONG size = device_->GetRawFrameSize();
    if (size == 0) {
        return {};
    }
    auto* buffer = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, size, zyn::kTagFrame));
    std::vector<uint8_t> frame;
    if (buffer != nullptr && device_->ReadRawFrame(buffer)) {
        frame.assign(buffer, buffer + size);
    }
    if (buffer != nullptr) {
        ExFreePoolWithTag(buffer, zyn::kTagFrame);
    }
    return frame;
}

std::vector<uint8_t> ModelRig::Convert(const std::vector<uint8_t>& raw) {
    const zyn::CameraSettings& settings = device_->Settings();
    const size_t offset = device_->GetRawFrameOffset();
    const size_t pitch = device_->GetRawFramePitch();
    // A conversion must stay within the frame the camera sent.
    const size_t needed = offset + pitch * (settings.RoiH - 1) + settings.RoiW;
    if (raw.size() < needed || pitch < static_cast<size_t>(settings.RoiW)) {
        ADD_FAILURE() << "a frame of " << raw.size() << " bytes, pitch " << pitch
                      << ", holds no region of " << settings.RoiW << " x " << settings.RoiH;
        return {};
    }
    return ConvertRaw(raw.data() + offset, pitch, settings.RoiW, settings.RoiH,
                      device_->BayerPhase());
}

std::vector<uint8_t> ModelRig::Deliver() {
    const std::vector<uint8_t> raw = ReadFrame();
    if (raw.empty()) {
        ADD_FAILURE() << "no frame";
        return {};
    }
    return Convert(raw);
}

std::vector<uint8_t> ConvertRaw(const uint8_t* raw, size_t pitch, int width, int height,
                                int phase) {
    std::vector<uint8_t> out(static_cast<size_t>(width) * height * 4);
    auto* state = new (NonPagedPool) zyn::ColorState();
    state->SetFrameSize(width, height);
    EXPECT_EQ(state->AllocateWorkBuffer(), STATUS_SUCCESS);
    state->SetOutputBuffer(out.data());
    state->SetBayerPhase(phase);
    zyn::ConvertFrame(state, raw, 0, static_cast<ULONG>(pitch));
    delete state;
    return out;
}

std::vector<uint8_t> IdealDelivery(const imaging::RgbImage& scene, Filter filter, Region region,
                                   int subSample, bool mirrored, bool flipped) {
    const int s = subSample;
    const int width = region.width / s;
    const int height = region.height / s;
    imaging::RgbImage view(width, height);
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            const int x0 = region.x + (mirrored ? width - 1 - i : i) * s;
            const int y0 = region.y + (flipped ? height - 1 - j : j) * s;
            for (int c = 0; c < 3; ++c) {
                unsigned sum = 0;
                for (int dy = 0; dy < s; ++dy) {
                    for (int dx = 0; dx < s; ++dx) {
                        sum += scene.At(x0 + dx, y0 + dy)[c];
                    }
                }
                view.At(i, j)[c] = static_cast<uint8_t>((sum + s * s / 2) / (s * s));
            }
        }
    }
    int phase = filter.phase;
    if (filter.fixedOnArray) {
        // The first sample carries the filter colour of where it starts, counted in samples:
        // binning combines pixels of one colour into samples of the same layout.
        const int firstX = region.x / s + (mirrored ? width - 1 : 0);
        const int firstY = region.y / s + (flipped ? height - 1 : 0);
        phase = sim::camera::ShiftPhase(filter.phase, firstX, firstY);
    }
    const std::vector<uint8_t> raw = imaging::Mosaic(view, phase);
    return ConvertRaw(raw.data(), static_cast<size_t>(width), width, height, phase);
}

double DifferingShare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) {
        return 1.0;
    }
    size_t differing = 0;
    for (size_t i = 0; i < a.size(); i += 4) {
        differing += std::memcmp(&a[i], &b[i], 4) != 0;
    }
    return static_cast<double>(differing) / static_cast<double>(a.size() / 4);
}

imaging::RgbImage DetailedScene(Model model) {
    imaging::RgbImage picture;
    std::string error;
    EXPECT_TRUE(imaging::ReadPng(std::string(ZYN_TESTDATA) + "/kodak/kodim23.png", picture, error))
        << error;
    const sim::camera::ModelInfo& info = sim::camera::Info(model);
    return sim::camera::FitToSensor(picture, info.sensorWidth, info.sensorHeight);
}

} // namespace model_test
