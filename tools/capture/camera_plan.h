// What each camera of a capture does: its folder, files, settings, region and scene, from the
// options (a value with a "K:" prefix is camera K's alone).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "driver/wdk.h"
#include "sim/imaging/rgb_image.h"
#include "tools/capture/capture_options.h"
#include "tools/common/property_catalog.h"

namespace zyn::capture {

struct Setting {
    const zyn::tools::PropertyInfo* property;
    std::vector<LONG> values;
};

// What one camera does in a capture.
struct CameraPlan {
    int number = 1; // K, from 1
    std::string out;
    std::vector<Setting> settings;
    std::vector<LONG> region;
    std::shared_ptr<const imaging::RgbImage> scene;
    std::string frameInfo;
    std::string commandLog;
    std::string driverKey; // where its driver keeps its settings
};

// Every camera's plan; throws a Failure (exit code 2) for a value that does not parse or
// names a camera that is not there.
std::vector<CameraPlan> PlanCameras(const Options& options);

} // namespace zyn::capture
