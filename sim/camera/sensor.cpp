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
    // Frame lines and line length of the full window as the camera start programs them.
    case Model::Heron:
        return std::make_unique<CropSensor>(
            model, CropSensor::NominalTiming{2047 + 320, (2448 + 464) * 3 / 2, 1});
    case Model::Egret:
        return std::make_unique<CropSensor>(
            model, CropSensor::NominalTiming{1535 + 281, (2048 + 208) * 3 / 2, 1});
    }
    return nullptr;
}

} // namespace sim::camera
