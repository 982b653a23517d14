// Which registry keys belong to which physical device: bound by the test or the host, or
// numbered on first use.
#include <cstdio>

#include "sim/wdk/registry_tree.h"

namespace sim::registry {
namespace {

constexpr char kClassKey[] = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\"
                             "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";

} // namespace

std::string DeviceKeyPathLocked(Store& store, PDEVICE_OBJECT device, bool driverKey) {
    auto& keys = driverKey ? store.driverKeys : store.deviceKeys;
    auto it = keys.find(device);
    if (it != keys.end()) {
        return it->second;
    }
    char number[16];
    std::snprintf(number, sizeof number, "%04u", store.nextDevice++);
    const std::string path =
        driverKey ? std::string(kClassKey) + "\\" + number
                  : std::string("\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\SIM\\") +
                        number + "\\Device Parameters";
    keys[device] = path;
    return path;
}

void BindDriverKey(PDEVICE_OBJECT physicalDevice, const std::string& path) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.driverKeys[physicalDevice] = path;
}

std::string DriverKeyPath(PDEVICE_OBJECT physicalDevice) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    return DeviceKeyPathLocked(store, physicalDevice, true);
}

void UnbindDevice(PDEVICE_OBJECT physicalDevice) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.driverKeys.erase(physicalDevice);
    store.deviceKeys.erase(physicalDevice);
}

} // namespace sim::registry
