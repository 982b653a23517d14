#include "tools/capture/camera_plan.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <utility>

#include "oculix_zyn_properties.h"
#include "sim/camera/scene_fit.h"
#include "sim/host/capture_session.h"
#include "sim/host/driver_models.h"
#include "tools/capture/capture_failure.h"
#include "tools/common/number_list.h"

namespace zyn::capture {
namespace {

Setting ParseSetting(const std::string& assignment) {
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
        throw Failure{"--set " + assignment + ": expected NAME=VALUE", 2};
    }
    const std::string name = assignment.substr(0, equals);
    Setting setting{zyn::tools::FindProperty(name), {}};
    if (setting.property == nullptr) {
        throw Failure{"--set " + name + ": no such property", 2};
    }
    std::optional<std::vector<LONG>> values =
        zyn::tools::ParsePropertyValues(assignment.substr(equals + 1));
    if (!values) {
        throw Failure{"--set " + name + ": '" + assignment.substr(equals + 1) +
                          "' is not a number or a list of numbers",
                      2};
    }
    setting.values = std::move(*values);
    const uint32_t id = setting.property->id;
    const size_t wanted = id == CAMPROP_SENSOR_REGISTER ? 2 : 1;
    if (id == CAMPROP_REGION) {
        if (setting.values.size() < 4 || setting.values.size() > 5) {
            throw Failure{"--set region: expected X,Y,W,H[,SUBSAMPLE]", 2};
        }
    } else if (id == CAMPROP_RAW_COMMAND || id == CAMPROP_MEMORY_BYTE) {
        throw Failure{"--set " + name + ": not a setting (use zyn-ctl)", 2};
    } else if (setting.values.size() != wanted) {
        throw Failure{"--set " + name + ": expected " +
                          (wanted == 2 ? std::string("INDEX,VALUE") : std::string("one value")),
                      2};
    }
    return setting;
}

std::vector<LONG> ParseRegion(const std::string& text) {
    std::optional<std::vector<LONG>> values = zyn::tools::ParsePropertyValues(text);
    if (!values || values->size() < 4 || values->size() > 5) {
        throw Failure{"--region " + text + ": expected X,Y,W,H[,SUBSAMPLE]", 2};
    }
    return std::move(*values);
}

// A value of --set, --region or --scene: "K:VALUE" is for camera K alone, a value without the
// prefix for every camera (camera 0 here).
struct ForCamera {
    int camera;
    std::string value;
};

ForCamera SplitCameraPrefix(const std::string& option, const std::string& text, int cameras) {
    size_t digits = 0;
    while (digits < text.size() && digits < 9 && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    if (digits == 0 || digits >= text.size() || text[digits] != ':') {
        return ForCamera{0, text};
    }
    const int camera = std::atoi(text.substr(0, digits).c_str());
    if (camera < 1 || camera > cameras) {
        throw Failure{option + " " + text + ": there is no camera " + std::to_string(camera) +
                          " (--cameras " + std::to_string(cameras) + ")",
                      2};
    }
    return ForCamera{camera, text.substr(digits + 1)};
}

bool ForThisCamera(const ForCamera& value, int camera) {
    return value.camera == 0 || value.camera == camera;
}

// FILE for camera K of several: FILE with "-K" before its extension.
std::string CameraFile(const std::string& file, int camera, int cameras) {
    if (file.empty() || cameras == 1) {
        return file;
    }
    std::filesystem::path path(file);
    path.replace_filename(path.stem().string() + "-" + std::to_string(camera) +
                          path.extension().string());
    return path.string();
}

// Camera K's driver key: the session's key for the first camera, the next ones after it, so a
// registry file holds each camera's settings apart.
std::string CameraDriverKey(int camera) {
    std::string key = zyn::capture::kSessionDriverKey;
    char instance[16];
    std::snprintf(instance, sizeof instance, "%04d", camera - 1);
    return key.substr(0, key.size() - 4) + instance;
}

} // namespace

std::vector<CameraPlan> PlanCameras(const Options& options) {
    const int cameras = static_cast<int>(options.cameras);
    std::vector<std::pair<ForCamera, Setting>> settings;
    for (const std::string& assignment : options.sets) {
        ForCamera value = SplitCameraPrefix("--set", assignment, cameras);
        settings.emplace_back(value, ParseSetting(value.value));
    }
    std::vector<std::pair<ForCamera, std::vector<LONG>>> regions;
    for (const std::string& text : options.regions) {
        ForCamera value = SplitCameraPrefix("--region", text, cameras);
        regions.emplace_back(value, ParseRegion(value.value));
    }
    const zyn::host::DriverModel* model = zyn::host::FindDriverModel(options.model);
    if (model == nullptr) {
        throw Failure{"no driver for model '" + options.model +
                          "' (built: " + zyn::host::DriverModelNames() + ")",
                      2};
    }
    std::vector<std::pair<ForCamera, std::shared_ptr<const imaging::RgbImage>>> scenes;
    for (const std::string& text : options.scenes) {
        ForCamera value = SplitCameraPrefix("--scene", text, cameras);
        const sim::camera::ModelInfo& info = sim::camera::Info(model->camera);
        auto scene = std::make_shared<imaging::RgbImage>();
        std::string error;
        if (!sim::camera::SceneFromSource(value.value, info.sensorWidth, info.sensorHeight, *scene,
                                          error)) {
            throw Failure{"--scene " + value.value + ": " + error, 2};
        }
        scenes.emplace_back(value, scene);
    }

    // Values apply in the order given; a later region or scene replaces an earlier one.
    std::vector<CameraPlan> plans;
    for (int k = 1; k <= cameras; ++k) {
        CameraPlan plan;
        plan.number = k;
        plan.out = cameras == 1 ? options.out : options.out + "/camera-" + std::to_string(k);
        for (const auto& [camera, setting] : settings) {
            if (ForThisCamera(camera, k)) {
                plan.settings.push_back(setting);
            }
        }
        for (const auto& [camera, region] : regions) {
            if (ForThisCamera(camera, k)) {
                plan.region = region;
            }
        }
        for (const auto& [camera, scene] : scenes) {
            if (ForThisCamera(camera, k)) {
                plan.scene = scene;
            }
        }
        plan.frameInfo = CameraFile(options.frameInfo, k, cameras);
        plan.commandLog = CameraFile(options.commandLog, k, cameras);
        plan.driverKey = CameraDriverKey(k);
        plans.push_back(std::move(plan));
    }

    return plans;
}

} // namespace zyn::capture
