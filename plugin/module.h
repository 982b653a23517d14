// Module-wide state of OculixZYN.ax: the instance handle that the dialogs and strings are
// loaded from, the server lock count and the count of live COM objects.
#pragma once

#include <windows.h>

namespace zyn {

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

// Platform id from GetVersionExW (VER_PLATFORM_WIN32_NT on every supported system), recorded
// at load.
DWORD ModulePlatform();
void RecordModulePlatform();

// IClassFactory::LockServer.
void LockModule(bool lock);
// Every object built on CBaseObject counts from construction to destruction.
void ObjectCreated();
void ObjectDestroyed();
// DllCanUnloadNow: no lock held and no object alive.
bool ModuleInUse();

} // namespace zyn
