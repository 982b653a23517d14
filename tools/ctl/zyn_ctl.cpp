// zyn-ctl: reads and changes the settings of an emulated camera through its driver's property
// set, as an application does, and shows the capture format the driver offers.
//
//   zyn-ctl [--model tern] [--registry FILE] [--list] [--get NAME|ID ...] [--set NAME=VALUE ...]
//           [--region X,Y,W,H[,SUBSAMPLE]] [--format] [--reload]
//
// Requests run in the order given. A failed request prints its status and makes the exit
// status 1; the others still run. With --registry the camera's settings persist in FILE.
#include <CLI/CLI.hpp>

#include <array>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/host/camera_system.h"
#include "sim/wdk/registry.h"
#include "sim/host/camera_properties.h"
#include "sim/host/driver_models.h"
#include "tools/common/number_list.h"
#include "tools/common/property_catalog.h"

namespace {

using zyn::host::PropertyResult;
using zyn::tools::FindProperty;
using zyn::tools::PropertyInfo;

// Where the emulated camera's driver key lives, the same in every run so that the registry
// file finds it again.
constexpr char kDriverKey[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\"
                              "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000";

class Controller {
public:
    explicit Controller(sim::host::Filter& filter) : filter_(filter) {}
    int status() const { return failed_ ? 1 : 0; }

    void List();
    void Get(const std::string& name);
    void Set(const std::string& assignment);
    void Region(const std::string& text);
    void Format();
    void Reload() {
        Report("reload_settings", zyn::host::SetValue(filter_, CAMPROP_RELOAD_SETTINGS, 1));
    }

private:
    bool Report(const std::string& what, const PropertyResult& result) {
        if (!result.ok()) {
            std::fprintf(stderr, "zyn-ctl: %s: %s\n", what.c_str(), sim::StatusName(result.status));
            failed_ = true;
        }
        return result.ok();
    }
    void Fail(const std::string& message) {
        std::fprintf(stderr, "zyn-ctl: %s\n", message.c_str());
        failed_ = true;
    }
    PropertyResult Read(const PropertyInfo& info, LONG* value);

    sim::host::Filter& filter_;
    bool failed_ = false;
};

PropertyResult Controller::Read(const PropertyInfo& info, LONG* value) {
    if (info.id == CAMPROP_MEMORY_BYTE) {
        uint8_t byte = 0;
        PropertyResult result = zyn::host::ReadMemoryByte(filter_, &byte);
        *value = byte;
        return result;
    }
    return zyn::host::GetValue(filter_, info.id, value);
}

void Controller::List() {
    std::printf("%3s  %-20s %-8s %s\n", "id", "name", "access", "value");
    for (uint32_t id = 0; id < zyn::tools::kPropertyIdCount; ++id) {
        const PropertyInfo& info = zyn::tools::Property(id);
        ULONG access = 0;
        const PropertyResult support = zyn::host::Support(filter_, id, &access);
        if (support.status == STATUS_NOT_FOUND) {
            continue; // not a property of this model
        }
        if (!Report(std::string("list ") + info.name, support)) {
            continue;
        }
        const bool get = (access & KSPROPERTY_TYPE_GET) != 0;
        const bool set = (access & KSPROPERTY_TYPE_SET) != 0;
        const char* direction = get && set ? "get/set" : get ? "get" : "set";
        std::string value = "-";
        if (get) {
            LONG v = 0;
            const PropertyResult result = Read(info, &v);
            value = result.ok() ? std::to_string(v) : sim::StatusName(result.status);
            if (!result.ok()) {
                failed_ = true;
            }
        }
        if (info.minimumId) {
            LONG minimum = 0, maximum = 0, preset = 0;
            if (zyn::host::GetValue(filter_, *info.minimumId, &minimum).ok() &&
                zyn::host::GetValue(filter_, *info.maximumId, &maximum).ok() &&
                zyn::host::GetValue(filter_, *info.defaultId, &preset).ok()) {
                value += "  (min " + std::to_string(minimum) + ", max " + std::to_string(maximum) +
                         ", default " + std::to_string(preset) + ")";
            }
        }
        std::printf("%3u  %-20s %-8s %s\n", id, info.name, direction, value.c_str());
    }
}

void Controller::Get(const std::string& name) {
    const PropertyInfo* info = FindProperty(name);
    if (info == nullptr) {
        Fail("get " + name + ": no such property");
        return;
    }
    LONG value = 0;
    if (Report(std::string("get ") + info->name, Read(*info, &value))) {
        std::printf("%s = %d\n", info->name, value);
    }
}

void Controller::Set(const std::string& assignment) {
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
        Fail("set " + assignment + ": expected NAME=VALUE");
        return;
    }
    const std::string name = assignment.substr(0, equals);
    const std::string text = assignment.substr(equals + 1);
    const PropertyInfo* info = FindProperty(name);
    if (info == nullptr) {
        Fail("set " + name + ": no such property");
        return;
    }
    const std::string what = std::string("set ") + info->name;
    const std::optional<std::vector<LONG>> parsed = zyn::tools::ParsePropertyValues(text);
    if (!parsed) {
        Fail(what + ": '" + text + "' is not a number or a list of numbers");
        return;
    }
    const std::vector<LONG>& values = *parsed;
    switch (info->id) {
    case CAMPROP_REGION:
        if (values.size() < 4 || values.size() > 5) {
            Fail(what + ": expected X,Y,W,H[,SUBSAMPLE]");
            return;
        }
        Report(what, zyn::host::SetRegion(filter_, values[0], values[1], values[2], values[3],
                                          values.size() == 5 ? values[4] : 0));
        return;
    case CAMPROP_SENSOR_REGISTER:
        if (values.size() != 2) {
            Fail(what + ": expected INDEX,VALUE");
            return;
        }
        Report(what, zyn::host::SetValue(filter_, info->id, values[0], values[1]));
        return;
    case CAMPROP_RAW_COMMAND: {
        std::array<uint8_t, 64> bytes{};
        if (values.size() > bytes.size()) {
            Fail(what + ": at most 64 bytes");
            return;
        }
        for (size_t i = 0; i < values.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(values[i]);
        }
        Report(what, zyn::host::SendRawCommand(filter_, static_cast<LONG>(values.size()), bytes));
        return;
    }
    default:
        if (values.size() != 1) {
            Fail(what + ": expected one value");
            return;
        }
        Report(what, zyn::host::SetValue(filter_, info->id, values[0]));
    }
}

void Controller::Region(const std::string& text) {
    Set("region=" + text);
}

void Controller::Format() {
    KS_DATARANGE_VIDEO range{};
    const NTSTATUS status = filter_.VideoRange(0, &range);
    if (!NT_SUCCESS(status)) {
        Report("format", PropertyResult{status, 0});
        return;
    }
    const KS_VIDEO_STREAM_CONFIG_CAPS& caps = range.ConfigCaps;
    const KS_VIDEOINFOHEADER& info = range.VideoInfoHeader;
    std::printf("width = %d\n", info.bmiHeader.biWidth);
    std::printf("height = %d\n", info.bmiHeader.biHeight);
    std::printf("biSizeImage = %u\n", info.bmiHeader.biSizeImage);
    std::printf("SampleSize = %u\n", range.DataRange.SampleSize);
    std::printf("MinFrameInterval = %lld\n", static_cast<long long>(caps.MinFrameInterval));
    std::printf("MaxFrameInterval = %lld\n", static_cast<long long>(caps.MaxFrameInterval));
    std::printf("AvgTimePerFrame = %lld\n", static_cast<long long>(info.AvgTimePerFrame));
    std::printf("MinBitsPerSecond = %d\n", caps.MinBitsPerSecond);
    std::printf("MaxBitsPerSecond = %d\n", caps.MaxBitsPerSecond);
    std::printf("dwBitRate = %u\n", info.dwBitRate);
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Reads and changes the settings of an emulated camera through its driver."};
    std::string model = "tern";
    std::string registryFile;
    std::vector<std::string> gets, sets, regions;
    app.add_option("--model", model, "camera model: " + zyn::host::DriverModelNames());
    app.add_option("--registry", registryFile, "keep the camera's settings in this file");
    CLI::Option* list = app.add_flag("--list")->description("print every property with its value");
    CLI::Option* get = app.add_option("--get", gets, "print properties (NAME or ID)");
    CLI::Option* set = app.add_option("--set", sets, "change properties (NAME=VALUE)");
    CLI::Option* region =
        app.add_option("--region", regions, "set the region of interest: X,Y,W,H[,SUBSAMPLE]");
    CLI::Option* format = app.add_flag("--format")->description("print the capture format offered");
    CLI::Option* reload =
        app.add_flag("--reload")->description("reload the settings from the registry");
    list->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    format->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    reload->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    CLI11_PARSE(app, argc, argv);

    const zyn::host::DriverModel* driverModel = zyn::host::FindDriverModel(model);
    if (driverModel == nullptr) {
        std::fprintf(stderr, "zyn-ctl: no driver for model '%s' (built: %s)\n", model.c_str(),
                     zyn::host::DriverModelNames().c_str());
        return 2;
    }
    if (!registryFile.empty()) {
        std::string error;
        if (!sim::registry::UseFile(registryFile, &error)) {
            std::fprintf(stderr, "zyn-ctl: %s: %s\n", registryFile.c_str(), error.c_str());
            return 2;
        }
    }

    int exitStatus = 0;
    {
        sim::host::CameraSystem system(
            driverModel->camera, driverModel->entry,
            sim::camera::CameraOptions{std::chrono::nanoseconds{0}, false});
        if (!NT_SUCCESS(system.loadStatus())) {
            std::fprintf(stderr, "zyn-ctl: the driver did not load: %s\n",
                         sim::StatusName(system.loadStatus()));
            return 1;
        }
        sim::registry::BindDriverKey(system.physicalDevice(), kDriverKey);
        NTSTATUS status = system.Start();
        if (!NT_SUCCESS(status)) {
            std::fprintf(stderr, "zyn-ctl: the camera did not start: %s\n",
                         sim::StatusName(status));
            sim::registry::UnbindDevice(system.physicalDevice());
            return 1;
        }
        std::unique_ptr<sim::host::Filter> filter = system.OpenFilter(&status);
        if (filter == nullptr) {
            std::fprintf(stderr, "zyn-ctl: the filter did not open: %s\n", sim::StatusName(status));
            exitStatus = 1;
        } else {
            Controller controller(*filter);
            std::map<const CLI::Option*, size_t> taken;
            for (const CLI::Option* option : app.parse_order()) {
                const size_t index = taken[option]++;
                if (option == list) {
                    controller.List();
                } else if (option == format) {
                    controller.Format();
                } else if (option == reload) {
                    controller.Reload();
                } else if (option == get) {
                    controller.Get(option->results().at(index));
                } else if (option == set) {
                    controller.Set(option->results().at(index));
                } else if (option == region) {
                    controller.Region(option->results().at(index));
                }
            }
            exitStatus = controller.status();
            filter.reset(); // closing the filter saves the settings
        }
        system.Stop();
        system.Remove();
        sim::registry::UnbindDevice(system.physicalDevice());
    }
    if (!registryFile.empty()) {
        std::string error;
        if (!sim::registry::Flush(&error)) {
            std::fprintf(stderr, "zyn-ctl: %s: %s\n", registryFile.c_str(), error.c_str());
            exitStatus = 1;
        }
        sim::registry::StopUsingFile();
    }
    return exitStatus;
}
