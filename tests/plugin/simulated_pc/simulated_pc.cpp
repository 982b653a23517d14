#include "tests/plugin/simulated_pc/simulated_pc.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/core/camera_device.h"
#include "driver/models/tern/tern_driver.h"
#include "sim/host/camera_system.h"
#include "sim/wdk/objects.h"
#include "sim/wdk/pool.h"
#include "sim/wdk/registry.h"
#include "sim/wdk/verifier.h"

namespace {

// The registry key the camera's settings live under.
constexpr char kDriverKey[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\"
                              "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000";

std::mutex g_failuresMutex;
std::vector<std::string> g_failures;

// Verifier failures are collected for the test program rather than ending the process.
void CollectFailure(const char* message) {
    std::lock_guard<std::mutex> lock(g_failuresMutex);
    g_failures.emplace_back(message);
}

struct Pc {
    uint64_t poolMark = 0;
    uint64_t objectMark = 0;
    std::unique_ptr<sim::host::CameraSystem> system;
    std::unique_ptr<sim::host::Filter> filter;
    std::unique_ptr<sim::host::Pin> pin;

    zyn::CameraDevice* Camera() {
        sim::host::Device* device = system != nullptr ? system->device() : nullptr;
        return device != nullptr ? static_cast<zyn::CameraDevice*>(device->context()) : nullptr;
    }
};

Pc g_pc;

void Close() {
    if (g_pc.system == nullptr) {
        return;
    }
    g_pc.pin.reset();
    g_pc.filter.reset();
    sim::registry::UnbindDevice(g_pc.system->physicalDevice());
    g_pc.system.reset(); // stops and removes the device, unplugs, unloads the image
    sim::objects::ReportLeaksSince(g_pc.objectMark, "the simulated PC");
    sim::pool::ReportLeaksSince(g_pc.poolMark, "the simulated PC");
}

} // namespace

extern "C" {

int32_t ZynSimOpen(void) {
    Close();
    sim::SetVerifierHandler(&CollectFailure);
    {
        std::lock_guard<std::mutex> lock(g_failuresMutex);
        g_failures.clear();
    }
    sim::registry::Clear();
    g_pc.poolMark = sim::pool::Mark();
    g_pc.objectMark = sim::objects::Mark();

    // Camera frames go out as soon as they are asked for; nothing here waits on camera time.
    g_pc.system = std::make_unique<sim::host::CameraSystem>(
        sim::camera::Model::Tern, &zyn::tern::TernImage::DriverEntry,
        sim::camera::CameraOptions{std::chrono::nanoseconds{0}, false});
    if (!NT_SUCCESS(g_pc.system->loadStatus())) {
        const NTSTATUS status = g_pc.system->loadStatus();
        Close();
        return status;
    }
    sim::registry::BindDriverKey(g_pc.system->physicalDevice(), kDriverKey);
    NTSTATUS status = g_pc.system->Start();
    if (NT_SUCCESS(status)) {
        g_pc.filter = g_pc.system->OpenFilter(&status);
    }
    if (!NT_SUCCESS(status)) {
        Close();
    }
    return status;
}

void ZynSimClose(void) {
    Close();
}

int32_t ZynSimProperty(const void* property, uint32_t propertyLength, void* data,
                       uint32_t dataLength, uint32_t* returned) {
    if (g_pc.filter == nullptr) {
        return STATUS_NO_SUCH_DEVICE;
    }
    const sim::host::PropertyResult result =
        g_pc.filter->RawProperty(property, propertyLength, data, dataLength);
    if (returned != nullptr) {
        *returned = result.bytes;
    }
    return result.status;
}

int32_t ZynSimOpenPin(void) {
    if (g_pc.filter == nullptr) {
        return STATUS_NO_SUCH_DEVICE;
    }
    if (g_pc.pin != nullptr) {
        return STATUS_SUCCESS;
    }
    KS_DATARANGE_VIDEO range{};
    NTSTATUS status = g_pc.filter->VideoRange(0, &range);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    g_pc.pin = g_pc.filter->CreatePin(0, sim::host::VideoFormatFromRange(range), {}, &status);
    return status;
}

void ZynSimClosePin(void) {
    g_pc.pin.reset();
}

int32_t ZynSimCaptureSize(int32_t* width, int32_t* height) {
    if (g_pc.filter == nullptr) {
        return STATUS_NO_SUCH_DEVICE;
    }
    KS_DATARANGE_VIDEO range{};
    const NTSTATUS status = g_pc.filter->VideoRange(0, &range);
    if (NT_SUCCESS(status)) {
        *width = range.VideoInfoHeader.bmiHeader.biWidth;
        *height = range.VideoInfoHeader.bmiHeader.biHeight;
    }
    return status;
}

int32_t ZynSimSettingsNow(ZynSimSettings* out) {
    zyn::CameraDevice* camera = g_pc.Camera();
    if (camera == nullptr) {
        return 0;
    }
    const zyn::CameraSettings& s = camera->Settings();
    *out =
        ZynSimSettings{s.ExTrigger, s.Timeout,         s.Exposure,     s.GlobalGain, s.FlipH,
                       s.FlipV,     s.ColorEnable,     s.WhiteBalance, s.RedGain,    s.GreenGain,
                       s.BlueGain,  s.ColorCorrection, s.Brightness,   s.Contrast,   s.Saturation,
                       s.Hue,       s.SubSample,       s.RoiX,         s.RoiY,       s.RoiW,
                       s.RoiH,      s.OutputWidth,     s.OutputHeight, s.PinOpen};
    return 1;
}

int32_t ZynSimStoredSetting(const char* name, uint32_t* value) {
    const std::optional<uint32_t> stored =
        sim::registry::GetDword(std::string(kDriverKey) + "\\Settings", name);
    if (!stored) {
        return 0;
    }
    *value = *stored;
    return 1;
}

uint32_t ZynSimSensorRegister(uint32_t index) {
    return g_pc.system != nullptr ? g_pc.system->camera().SensorRegister(index) : 0;
}

uint32_t ZynSimBoardRegister(uint32_t index) {
    return g_pc.system != nullptr && index < 256
               ? g_pc.system->camera().BoardRegister(static_cast<uint8_t>(index))
               : 0;
}

uint32_t ZynSimSensorWrites(ZynSimSensorWrite* writes, uint32_t capacity) {
    if (g_pc.system == nullptr) {
        return 0;
    }
    const std::vector<sim::camera::SensorWrite> log = g_pc.system->camera().SensorWriteLog();
    const size_t copied = std::min<size_t>(log.size(), capacity);
    for (size_t i = 0; i < copied; ++i) {
        writes[i] = ZynSimSensorWrite{log[i].address, log[i].value};
    }
    return static_cast<uint32_t>(log.size());
}

void ZynSimClearCommandLog(void) {
    if (g_pc.system != nullptr) {
        g_pc.system->camera().ClearCommandLog();
    }
}

uint32_t ZynSimVerifierFailures(char* text, uint32_t capacity) {
    std::lock_guard<std::mutex> lock(g_failuresMutex);
    std::string all;
    for (const std::string& failure : g_failures) {
        all += failure + "\n";
    }
    if (text != nullptr && capacity > 0) {
        const size_t copied = std::min<size_t>(all.size(), capacity - 1);
        all.copy(text, copied);
        text[copied] = '\0';
    }
    return static_cast<uint32_t>(g_failures.size());
}

} // extern "C"
