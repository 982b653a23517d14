// The camera models whose drivers the simulated build holds, by the name tools use for them.
#pragma once

#include <string>
#include <vector>

#include "sim/camera/camera_model.h"
#include "sim/ks/class_driver.h"

namespace zyn::host {

struct DriverModel {
    const char* name;                  // lower case: "tern"
    sim::camera::Model camera;         // the emulated camera it drives
    sim::ks::DriverEntryRoutine entry; // the driver image's entry point
};

const std::vector<DriverModel>& DriverModels();
// Null when no driver of that name is built.
const DriverModel* FindDriverModel(const std::string& name);
// "tern, ..." for messages.
std::string DriverModelNames();

} // namespace zyn::host
