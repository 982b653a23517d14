// Registry entries of the module: its COM classes, and the two entries through which the
// kernel streaming proxy finds the property page and the extension interface of the camera
// property set.
#pragma once

#include <windows.h>

namespace zyn {

// Writes (or removes) the class keys of every class in the module's table under
// HKEY_CLASSES_ROOT\CLSID.
HRESULT RegisterClasses(bool registering);

// Deletes `name` under `parent` with every subkey. A key that does not exist is already gone.
HRESULT DeleteKeyTree(HKEY parent, const wchar_t* name);

// The property page entry under MediaSets and the interface handler entry under
// MediaInterfaces, in HKEY_LOCAL_MACHINE.
HRESULT RegisterProxyEntries();
HRESULT UnregisterProxyEntries();

} // namespace zyn
