#include "sim/camera/camera_model.h"

#include "zyn_usb_ids.h"

namespace sim::camera {
namespace {

using namespace zyn::usb_ids;

constexpr ModelInfo kModels[] = {
    {.model = Model::Tern,
     .name = "tern",
     .vendorId = kVendor,
     .productId = kTernProduct,
     .sensorWidth = 1360,
     .sensorHeight = 1024,
     .arrayWidth = 1360,
     .arrayHeight = 1024,
     .sensorRegisterCount = 1024,
     .triggerOn = 1,
     .basePhase = 2},
    {.model = Model::Heron,
     .name = "heron",
     .vendorId = kVendor,
     .productId = kHeronProduct,
     .sensorWidth = 2448,
     .sensorHeight = 2048,
     .arrayWidth = 2464,
     .arrayHeight = 2056,
     .marginX = 8,
     .marginY = 4,
     .sensorRegisterCount = 65536,
     .triggerOn = 17,
     .basePhase = 1,
     .hasSensorRead = true},
    {.model = Model::Plover,
     .name = "plover",
     .vendorId = kVendor,
     .productId = kPloverProduct,
     .sensorWidth = 1328,
     .sensorHeight = 1048,
     .arrayWidth = 1328,
     .arrayHeight = 1048,
     .sensorRegisterCount = 256,
     .triggerOn = 37,
     .basePhase = 2,
     .clockSelectable = true,
     .hasFirmwareVersion = true,
     .firmwareVersion = 0x0C1000},
    {.model = Model::Egret,
     .name = "egret",
     .vendorId = kVendor,
     .productId = kEgretProduct,
     .sensorWidth = 2048,
     .sensorHeight = 1536,
     .arrayWidth = 2064,
     .arrayHeight = 1552,
     .marginX = 8,
     .marginY = 8,
     .sensorRegisterCount = 65536,
     .triggerOn = 17,
     .basePhase = 1,
     .hasSensorRead = true},
};

static_assert(sizeof(kModels) / sizeof(kModels[0]) == 4);

} // namespace

const ModelInfo& Info(Model model) {
    return kModels[static_cast<int>(model)];
}

bool ParseModel(std::string_view text, Model& model) {
    for (const ModelInfo& info : kModels) {
        if (text == info.name) {
            model = info.model;
            return true;
        }
    }
    return false;
}

} // namespace sim::camera
