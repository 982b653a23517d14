#include "sim/camera/sensor.h"

#include "sim/camera/crop_sensor.h"
#include "sim/camera/plover_sensor.h"
#include "sim/camera/tern_sensor.h"

namespace sim::camera {

std::unique_ptr<Sensor> MakeSensor(Model model) {
    switch (model) {
    case Model::Tern:
        return std::make_unique<TernSensor>();
    case Model::Plover:
        return std::make_unique<PloverSensor>();
    case Model::Heron:
    case Model::Egret:
        return std::make_unique<CropSensor>(model);
    }
    return nullptr;
}

} // namespace sim::camera
