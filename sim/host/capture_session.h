// A capture from an emulated camera as an application makes it: the camera plugged in with
// its driver, the device started, the capture filter opened, the format intersected, the pin
// created with client frames queued, and the pin moved through its states. What zyn-capture,
// the end-to-end tests and the benchmark share.
//
// Objects go in the order an application's handles do: the pin before the filter, the filter
// before the device's stop and removal. The destructor closes whatever is still open.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "driver/core/camera_device.h"
#include "driver/core/capture_pin.h"
#include "sim/host/camera_system.h"
#include "sim/host/driver_models.h"

namespace zyn::capture {

// The emulated camera's driver key, the same in every session so that a registry file finds its
// settings again (they live in its "Settings" subkey).
constexpr char kSessionDriverKey[] =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\"
    "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000";

struct SessionOptions {
    std::string model = "tern";
    // 30 frames per second as the camera delivers them; zero: each frame as soon as asked.
    std::chrono::nanoseconds frameInterval = sim::camera::kFrameInterval30;
    // The picture in front of the lens; null keeps the camera's own.
    std::shared_ptr<const imaging::RgbImage> scene;
    // Client frames kept queued on the pin.
    unsigned clientFrames = 4;
    bool referenceClock = true;
    // The driver image of a camera of the same model already plugged in, shared as Plug and
    // Play shares it between cameras; null loads the model's driver.
    std::shared_ptr<sim::host::Driver> driver;
    // The camera's driver key in the registry, where its settings live.
    std::string driverKey = kSessionDriverKey;
};

// What the driver counted since the stream started.
struct StreamCounters {
    ULONG framesRead = 0;      // raw frames the driver read completely
    ULONG readTimeouts = 0;    // frame reads that ended in their timeout
    ULONG readFailures = 0;    // reads that brought no frame, timeouts included
    ULONG framesConverted = 0; // raw frames converted
    ULONG framesDropped = 0;   // raw frames overwritten before conversion
    ULONG framesDelivered = 0; // client frames completed with a picture
    double meanConversionMs = 0;
};

class CaptureSession {
public:
    // Null with a one-line reason in `error` when the camera or its driver does not come up.
    static std::unique_ptr<CaptureSession> Open(const SessionOptions& options, std::string* error);
    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    sim::host::CameraSystem& system() { return *system_; }
    sim::camera::Camera& camera() { return system_->camera(); }
    // False after a failed ReopenFilter or RestartDevice.
    bool HasFilter() const { return filter_ != nullptr; }
    sim::host::Filter& filter() { return *filter_; }
    CameraDevice& device();

    // Intersects the offered format, creates the pin and queues the client frames.
    NTSTATUS CreatePin();
    bool HasPin() const { return pin_ != nullptr; }
    sim::host::Pin& pin() { return *pin_; }
    CapturePin& capturePin();
    // The connection format's video info and the bytes of one picture.
    const KS_VIDEOINFOHEADER& videoInfo() const { return videoInfo_; }
    const std::vector<uint8_t>& format() const { return format_; }
    ULONG imageBytes() const { return videoInfo_.bmiHeader.biSizeImage; }

    NTSTATUS SetState(KSSTATE state);
    // The next completed frame, null when none completes in time.
    std::unique_ptr<sim::host::Frame> NextFrame(std::chrono::milliseconds timeout);
    // Hands a frame back to the pin for the next picture.
    NTSTATUS Requeue(std::unique_ptr<sim::host::Frame> frame);
    // Stops the pin, takes every client frame back and closes the pin.
    void ClosePin();
    // Closes pin and filter, stops and removes the device.
    void Close();
    // Closes the pin and the filter and opens the filter again, as an application that
    // restarts its graph.
    NTSTATUS ReopenFilter();
    // Closes pin and filter, stops the device and starts it again (a Plug and Play
    // rebalance), then opens the filter.
    NTSTATUS RestartDevice();
    // The camera pulled out and plugged in again: the pin and the filter close (after the
    // surprise removal when the cable is still in), the device is removed, the camera comes
    // back as a new device and its filter opens. No pin yet; the scene is the camera's own.
    NTSTATUS Replug();

    StreamCounters Counters();

private:
    CaptureSession() = default;

    std::unique_ptr<sim::host::CameraSystem> system_;
    std::unique_ptr<sim::host::Filter> filter_;
    std::unique_ptr<sim::host::Pin> pin_;
    std::vector<uint8_t> format_;
    KS_VIDEOINFOHEADER videoInfo_{};
    unsigned clientFrames_ = 0;
    bool referenceClock_ = true;
    ULONG timeoutsAtStart_ = 0;
};

// The picture in a client frame of the capture format (a bottom-up bitmap of biWidth x
// |biHeight| pixels, 4 bytes each), top row first as a person looks at it.
imaging::RgbImage PictureFromFrame(const uint8_t* data, const KS_VIDEOINFOHEADER& videoInfo);

} // namespace zyn::capture
