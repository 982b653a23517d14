#include "sim/camera/camera_model.h"

#include "zyn_usb_ids.h"

namespace sim::camera {
namespace {

using namespace zyn::usb_ids;

constexpr ModelInfo kModels[] = {
    // model, name, vid, pid, release, sensor, array, margin, registers, trigger, phase,
    //   sensor read, clock selectable, firmware version (kept, value)
    {Model::Tern, "tern", kVendor, kTernProduct, 0x0100, 1360, 1024, 1360, 1024, 0, 0, 1024, 1, 2,
     false, false, false, 0},
    {Model::Heron, "heron", kVendor, kHeronProduct, 0x0100, 2448, 2048, 2464, 2056, 8, 4, 65536, 17, 1,
     true, false, false, 0},
    {Model::Plover, "plover", kVendor, kPloverProduct, 0x0100, 1328, 1048, 1328, 1048, 0, 0, 256, 37, 2,
     false, true, true, 0x0C1000},
    {Model::Egret, "egret", kVendor, kEgretProduct, 0x0100, 2048, 1536, 2064, 1552, 8, 8, 65536, 17, 1,
     true, false, false, 0},
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
