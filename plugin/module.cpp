#include "plugin/module.h"

namespace zyn {
namespace {

HINSTANCE g_instance;
DWORD g_platform = VER_PLATFORM_WIN32_WINDOWS;
volatile LONG g_locks;
volatile LONG g_objects;

} // namespace

HINSTANCE ModuleInstance() {
    return g_instance;
}
void SetModuleInstance(HINSTANCE instance) {
    g_instance = instance;
}

DWORD ModulePlatform() {
    return g_platform;
}

void RecordModulePlatform() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    g_platform = GetVersionExW(&version) ? version.dwPlatformId : VER_PLATFORM_WIN32_WINDOWS;
}

void LockModule(bool lock) {
    if (lock)
        InterlockedIncrement(&g_locks);
    else
        InterlockedDecrement(&g_locks);
}

void ObjectCreated() {
    InterlockedIncrement(&g_objects);
}
void ObjectDestroyed() {
    InterlockedDecrement(&g_objects);
}

bool ModuleInUse() {
    return InterlockedCompareExchange(&g_locks, 0, 0) > 0 ||
           InterlockedCompareExchange(&g_objects, 0, 0) != 0;
}

} // namespace zyn
