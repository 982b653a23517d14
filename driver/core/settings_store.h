// Where a camera's settings are kept between starts. The driver image chooses the store (the
// registry, in every image); the device context only asks it to load or save, so that the
// settings rules stay above the device in the layers.
#pragma once

#include "driver/wdk.h"

namespace zyn {

class CameraDevice;

struct SettingsStore {
    // Sets every stored value through the property setters (with their limits); reports
    // whether the store could be opened.
    BOOLEAN (*load)(CameraDevice& device);
    // Writes the settings record; reports whether the store could be opened.
    BOOLEAN (*save)(CameraDevice& device);
};

} // namespace zyn
