// The camera below a driver's USB transport: the camera emulator plugged into the simulated
// bus, an analyser device between the driver and the bus that records every request passing
// down, and non-paged buffers for frames. What transport and device tests stand on, without
// kernel streaming.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/camera/camera.h"
#include "sim/camera/usb_descriptors.h"
#include "sim/usb/bus.h"
#include "sim/wdk/sim_wdk.h"

namespace camera_rig {

using sim::camera::kCommandEndpoint;
using sim::camera::kDataEndpoint;
using sim::camera::kResponseEndpoint;

// A filter device object that records each request of the USB stack and passes it on.
class UsbAnalyzer {
public:
    struct Request {
        ULONG ioctl = 0;
        USHORT function = 0; // URB function, for URB requests
        USBD_PIPE_HANDLE pipe = nullptr;
        ULONG flags = 0;   // bulk transfer flags
        ULONG length = 0;  // bulk transfer length
        UCHAR command = 0; // byte 0 of an OUT transfer
        PMDL mdl = nullptr;
        PVOID mdlAddress = nullptr; // start of the MDL's range
        ULONG mdlBytes = 0;
        bool partialMdl = false;
        KIRQL irql = PASSIVE_LEVEL; // of the sender
    };

    explicit UsbAnalyzer(PDEVICE_OBJECT lower);
    ~UsbAnalyzer();
    UsbAnalyzer(const UsbAnalyzer&) = delete;
    UsbAnalyzer& operator=(const UsbAnalyzer&) = delete;

    PDEVICE_OBJECT DeviceObject() const { return device_; }
    std::vector<Request> Requests() const;
    // The bulk transfers only.
    std::vector<Request> Transfers() const;
    void Clear();

private:
    static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp);

    PDRIVER_OBJECT driver_ = nullptr;
    PDEVICE_OBJECT device_ = nullptr;
    PDEVICE_OBJECT lower_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
};

// The camera, unpaced, on the bus, seen through the analyser.
struct CameraRig {
    explicit CameraRig(sim::camera::Model model = sim::camera::Model::Tern);

    sim::camera::Camera camera;
    sim::usb::Bus bus;
    UsbAnalyzer analyzer;

    // The device objects a driver attaches its transport to.
    PDEVICE_OBJECT Physical() const { return bus.DeviceObject(); }
    PDEVICE_OBJECT Next() const { return analyzer.DeviceObject(); }
};

// A block of non-paged pool, as frame buffers are.
class PoolBuffer {
public:
    explicit PoolBuffer(size_t bytes);
    ~PoolBuffer();
    PoolBuffer(const PoolBuffer&) = delete;
    PoolBuffer& operator=(const PoolBuffer&) = delete;

    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    std::vector<uint8_t> Bytes() const { return std::vector<uint8_t>(data_, data_ + size_); }

private:
    uint8_t* data_;
    size_t size_;
};

} // namespace camera_rig
