// A model's emulated camera on the simulated bus with the model's driver image, loaded and
// driven through the class driver, for tests of the image's descriptors, property set and
// settings. Every test starts with an empty registry
// and ends with the device removed and the image unloaded, leaving nothing behind.
#pragma once

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "driver/core/camera_device.h"
#include "sim/host/camera_system.h"
#include "sim/wdk/registry.h"
#include "tests/support/verified_test.h"
#include "sim/host/camera_properties.h"
#include "sim/host/driver_models.h"

namespace model_test {

class ModelDriverTest : public sim::testing::VerifiedTest {
public:
    static constexpr char kDriverKey[] =
        "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\"
        "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0043";

protected:
    void TearDown() override {
        filter_.reset();
        if (system_ != nullptr) {
            sim::registry::UnbindDevice(system_->physicalDevice());
        }
        system_.reset();
        sim::registry::Clear();
        VerifiedTest::TearDown();
    }

    // The camera of the named model with its driver image, not yet added.
    void Plug(const std::string& model) {
        sim::registry::Clear();
        const zyn::host::DriverModel* driver = zyn::host::FindDriverModel(model);
        ASSERT_NE(driver, nullptr) << model;
        system_ = std::make_unique<sim::host::CameraSystem>(
            driver->camera, driver->entry,
            sim::camera::CameraOptions{std::chrono::nanoseconds{0}, false});
        ASSERT_EQ(system_->loadStatus(), STATUS_SUCCESS);
        sim::registry::BindDriverKey(system_->physicalDevice(), kDriverKey);
    }
    void StartAndOpen() {
        ASSERT_EQ(system_->Start(), STATUS_SUCCESS);
        Open();
    }
    void Open() {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        filter_ = system_->OpenFilter(&status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        ASSERT_NE(filter_, nullptr);
    }

    zyn::CameraDevice& Camera() {
        return *static_cast<zyn::CameraDevice*>(system_->device()->context());
    }
    zyn::CameraSettings& Settings() { return Camera().Settings(); }
    sim::camera::Camera& Emulator() { return system_->camera(); }

    LONG Get(ULONG id) {
        LONG value = -12345;
        const sim::host::PropertyResult result = zyn::host::GetValue(*filter_, id, &value);
        EXPECT_EQ(result.status, STATUS_SUCCESS) << "GET " << id;
        return value;
    }
    NTSTATUS GetStatus(ULONG id) {
        LONG value;
        return zyn::host::GetValue(*filter_, id, &value).status;
    }
    NTSTATUS Set(ULONG id, LONG value, LONG extra = 0) {
        return zyn::host::SetValue(*filter_, id, value, extra).status;
    }
    NTSTATUS Region(LONG x, LONG y, LONG w, LONG h, LONG subSample = 0) {
        return zyn::host::SetRegion(*filter_, x, y, w, h, subSample).status;
    }

    std::optional<uint32_t> Stored(const std::string& name) {
        return sim::registry::GetDword(std::string(kDriverKey) + "\\Settings", name);
    }
    void Store(const std::string& name, uint32_t value) {
        sim::registry::CreateKey(std::string(kDriverKey) + "\\Settings");
        sim::registry::SetDword(std::string(kDriverKey) + "\\Settings", name, value);
    }
    // Each named value as the settings key holds it.
    void ExpectStored(std::initializer_list<std::pair<const char*, uint32_t>> values) {
        for (const auto& [name, value] : values) {
            EXPECT_EQ(Stored(name), value) << name;
        }
    }
    size_t StoredCount() {
        return sim::registry::ValueNames(std::string(kDriverKey) + "\\Settings").size();
    }

    std::unique_ptr<sim::host::CameraSystem> system_;
    std::unique_ptr<sim::host::Filter> filter_;
};

} // namespace model_test

namespace tern_test {

using sim::host::PropertyResult;

// The Tern camera plugged in with its driver image, not yet added.
class TernTest : public model_test::ModelDriverTest {
protected:
    void SetUp() override {
        ModelDriverTest::SetUp();
        Plug("tern");
    }
};

} // namespace tern_test
