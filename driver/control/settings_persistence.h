// The settings store of the driver images: the Settings subkey of the device's driver key, one
// REG_DWORD per setting.
#pragma once

#include "driver/core/settings_store.h"

namespace zyn {

extern const SettingsStore kRegistrySettingsStore;

} // namespace zyn
