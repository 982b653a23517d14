#include "sim/host/driver_models.h"

#include "driver/models/egret/egret_driver.h"
#include "driver/models/heron/heron_driver.h"
#include "driver/models/plover/plover_driver.h"
#include "driver/models/tern/tern_driver.h"

namespace zyn::host {

const std::vector<DriverModel>& DriverModels() {
    static const std::vector<DriverModel> models = {
        {"tern", sim::camera::Model::Tern, &zyn::tern::TernImage::DriverEntry},
        {"heron", sim::camera::Model::Heron, &zyn::heron::HeronImage::DriverEntry},
        {"plover", sim::camera::Model::Plover, &zyn::plover::PloverImage::DriverEntry},
        {"egret", sim::camera::Model::Egret, &zyn::egret::EgretImage::DriverEntry},
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

} // namespace zyn::host
