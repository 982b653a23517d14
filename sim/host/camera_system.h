// An emulated camera plugged into the simulated PC: the camera of a model on a USB bus device,
// its driver image loaded through the entry point given, and the device that Plug and Play adds
// on the bus's physical device object. What an application finds when it looks for a camera.
//
// The application's Filter and Pin objects must be gone before the system is destroyed; the
// destructor removes the device (its Stop first when started) and unplugs the camera.
#pragma once

#include <memory>
#include <string>

#include "sim/camera/camera.h"
#include "sim/host/host.h"
#include "sim/usb/bus.h"

namespace sim::host {

// The service name of a model's driver: "OculixZYNTernDS", ...
std::wstring ServiceName(sim::camera::Model model);

class CameraSystem {
public:
    // Loads the driver image (or shares `driver` when given) and plugs the camera in: the bus
    // device exists, the device is not added yet.
    // `driverKey`, when given, is the camera's driver key in the registry (where its settings
    // live); otherwise the registry assigns the next free one.
    CameraSystem(sim::camera::Model model, sim::ks::DriverEntryRoutine driverEntry,
                 sim::camera::CameraOptions cameraOptions = {},
                 std::shared_ptr<Driver> driver = nullptr, const std::string& driverKey = "");
    ~CameraSystem();
    CameraSystem(const CameraSystem&) = delete;
    CameraSystem& operator=(const CameraSystem&) = delete;

    // Whether the driver image loaded; its entry point's status.
    NTSTATUS loadStatus() const { return loadStatus_; }

    // Plug and Play: AddDevice, then start. Start without Add adds first.
    NTSTATUS Add();
    NTSTATUS Start();
    void Stop();
    // The cable is pulled: transfers fail from now on and the driver hears of the surprise
    // removal. The device stays until Remove (after the application closed its handles).
    void Unplug();
    void Remove();
    // The camera plugged in again after its removal (Unplug and Remove, or Stop and Remove): a
    // new camera of the model, powered up afresh, on a new bus device object with the same
    // driver key (its stored settings), added and started by Plug and Play. References to the
    // old camera() and bus() are gone.
    NTSTATUS Replug();

    // Opens the camera's capture filter (the device must be started).
    std::unique_ptr<Filter> OpenFilter(NTSTATUS* status = nullptr);

    sim::camera::Camera& camera() { return *camera_; }
    sim::usb::Bus& bus() { return *bus_; }
    std::shared_ptr<Driver> driver() { return driver_; }
    // Null before Add and after Remove.
    Device* device() { return device_.get(); }
    PDEVICE_OBJECT physicalDevice() { return bus_->DeviceObject(); }

private:
    sim::camera::Model model_;
    sim::camera::CameraOptions cameraOptions_;
    std::unique_ptr<sim::camera::Camera> camera_;
    std::unique_ptr<sim::usb::Bus> bus_;
    std::shared_ptr<Driver> driver_;
    NTSTATUS loadStatus_ = STATUS_SUCCESS;
    std::unique_ptr<Device> device_;
};

} // namespace sim::host
