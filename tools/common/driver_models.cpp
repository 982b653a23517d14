#include "tools/common/driver_models.h"

#include "driver/models/tern/tern_driver.h"

namespace zyn::tools {

const std::vector<DriverModel>& DriverModels() {
    static const std::vector<DriverModel> models = {
        {"tern", sim::camera::Model::Tern, &zyn::tern::DriverEntry},
    };
    return models;
}

const DriverModel* FindDriverModel(const std::string& name) {
    for (const DriverModel& model : DriverModels()) {
        if (name == model.name) {
            return &model;
        }
    }
    return nullptr;
}

std::string DriverModelNames() {
    std::string names;
    for (const DriverModel& model : DriverModels()) {
        names += names.empty() ? "" : ", ";
        names += model.name;
    }
    return names;
}

} // namespace zyn::tools
