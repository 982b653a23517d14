#include "tests/support/device_rig.h"

#include <gtest/gtest.h>

#include "driver/models/crop_sensor/crop_sensor_camera_device.h"
#include "driver/models/egret/egret_model.h"
#include "driver/models/heron/heron_model.h"
#include "driver/models/plover/plover_camera_device.h"
#include "driver/models/tern/tern_camera_device.h"
#include "driver/pool_tags.h"

namespace camera_rig {

namespace {

zyn::CameraDevice* MakeDevice(sim::camera::Model model, zyn::DriverGlobals& globals) {
    using sim::camera::Model;
    switch (model) {
    case Model::Tern:
        return new (NonPagedPool) zyn::tern::TernCameraDevice(nullptr, globals);
    case Model::Heron:
        return new (NonPagedPool)
            zyn::crop::CropSensorCameraDevice(nullptr, zyn::heron::kModel, globals);
    case Model::Plover:
        return new (NonPagedPool) zyn::plover::PloverCameraDevice(nullptr, globals);
    case Model::Egret:
        return new (NonPagedPool)
            zyn::crop::CropSensorCameraDevice(nullptr, zyn::egret::kModel, globals);
    }
    return nullptr;
}

} // namespace

DeviceRig::DeviceRig(sim::camera::Model model) : CameraRig(model) {
    device_ = MakeDevice(model, globals_);
    if (device_ == nullptr) {
        ADD_FAILURE() << "no device context";
        return;
    }
    device_->Transport().Attach(Physical(), Next(), nullptr);
    EXPECT_EQ(device_->Transport().Configure(), STATUS_SUCCESS);
}

DeviceRig::~DeviceRig() {
    if (device_ != nullptr) {
        device_->Transport().Unconfigure();
        delete device_;
    }
}

std::vector<uint8_t> DeviceRig::ReadFrame() {
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

} // namespace camera_rig
