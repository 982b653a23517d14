#include "sim/host/camera_system.h"

#include "sim/wdk/registry.h"

namespace sim::host {

std::wstring ServiceName(sim::camera::Model model) {
    switch (model) {
    case sim::camera::Model::Tern:
        return L"OculixZYNTernDS";
    case sim::camera::Model::Heron:
        return L"OculixZYNHeronDS";
    case sim::camera::Model::Plover:
        return L"OculixZYNPloverDS";
    case sim::camera::Model::Egret:
        return L"OculixZYNEgretDS";
    }
    return L"OculixZYN";
}

CameraSystem::CameraSystem(sim::camera::Model model, sim::ks::DriverEntryRoutine driverEntry,
                           sim::camera::CameraOptions cameraOptions, std::shared_ptr<Driver> driver,
                           const std::string& driverKey)
    : model_(model), cameraOptions_(cameraOptions),
      camera_(std::make_unique<sim::camera::Camera>(model, cameraOptions)),
      bus_(std::make_unique<sim::usb::Bus>(*camera_)), driver_(std::move(driver)) {
    if (!driverKey.empty()) {
        sim::registry::BindDriverKey(bus_->DeviceObject(), driverKey);
    }
    if (driver_ == nullptr) {
        driver_ = Driver::Load(ServiceName(model), driverEntry, &loadStatus_);
    }
}

CameraSystem::~CameraSystem() {
    Remove();
    // A later device object at the same address is another camera.
    sim::registry::UnbindDevice(bus_->DeviceObject());
    bus_.reset();
    driver_.reset();
}

NTSTATUS CameraSystem::Add() {
    if (driver_ == nullptr) {
        return loadStatus_;
    }
    if (device_ != nullptr) {
        return STATUS_SUCCESS;
    }
    NTSTATUS status;
    device_ = Device::Add(driver_, bus_->DeviceObject(), &status);
    return status;
}

NTSTATUS CameraSystem::Start() {
    const NTSTATUS added = Add();
    if (!NT_SUCCESS(added)) {
        return added;
    }
    return device_->Start();
}

void CameraSystem::Stop() {
    if (device_ != nullptr && device_->started()) {
        device_->Stop();
    }
}

void CameraSystem::Unplug() {
    bus_->Unplug();
    if (device_ != nullptr) {
        device_->SurpriseRemoval();
    }
}

void CameraSystem::Remove() {
    device_.reset();
}

NTSTATUS CameraSystem::Replug() {
    Remove();
    // The new device object is the same camera to the registry: same instance, same key.
    const std::string driverKey = sim::registry::DriverKeyPath(bus_->DeviceObject());
    sim::registry::UnbindDevice(bus_->DeviceObject());
    bus_.reset();
    camera_.reset();
    camera_ = std::make_unique<sim::camera::Camera>(model_, cameraOptions_);
    bus_ = std::make_unique<sim::usb::Bus>(*camera_);
    sim::registry::BindDriverKey(bus_->DeviceObject(), driverKey);
    return Start();
}

std::unique_ptr<Filter> CameraSystem::OpenFilter(NTSTATUS* status) {
    if (device_ == nullptr) {
        if (status != nullptr) {
            *status = STATUS_NO_SUCH_DEVICE;
        }
        return nullptr;
    }
    return device_->OpenFilter(&KSCATEGORY_VIDEO, status);
}

} // namespace sim::host
