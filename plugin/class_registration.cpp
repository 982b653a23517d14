#include <objbase.h>
#include <strmif.h>
#include <uuids.h>

#include "plugin/class_factory.h"
#include "plugin/module.h"
#include "plugin/registration.h"

namespace zyn {
namespace {

HRESULT FromError(LONG error) {
    return HRESULT_FROM_WIN32(static_cast<unsigned long>(error));
}

// "CLSID\{...}" for `clsid`.
void ClassKeyName(const CLSID& clsid, wchar_t (&name)[64]) {
    wchar_t braced[40];
    StringFromGUID2(clsid, braced, 40);
    wsprintfW(name, L"CLSID\\%ls", braced);
}

LONG SetString(HKEY key, const wchar_t* valueName, const wchar_t* text) {
    const DWORD bytes = static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

HRESULT RegisterClassKey(const CFactoryTemplate& entry, const wchar_t* modulePath) {
    wchar_t name[64];
    ClassKeyName(*entry.clsid, name);
    HKEY classKey;
    LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, name, 0, nullptr, 0, KEY_WRITE, nullptr,
                                 &classKey, nullptr);
    if (error != ERROR_SUCCESS)
        return FromError(error);
    error = SetString(classKey, L"", entry.name);
    HKEY serverKey = nullptr;
    if (error == ERROR_SUCCESS)
        error = RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                                &serverKey, nullptr);
    if (error == ERROR_SUCCESS) {
        error = SetString(serverKey, L"", modulePath);
        if (error == ERROR_SUCCESS)
            error = SetString(serverKey, L"ThreadingModel", L"Both");
        RegCloseKey(serverKey);
    }
    RegCloseKey(classKey);
    return error == ERROR_SUCCESS ? S_OK : FromError(error);
}

// Neither class is a filter, so nothing goes into the filter mapper; but a system on which no
// mapper can be created has no DirectShow to load the module, and registration fails there.
HRESULT CheckFilterMapper() {
    const HRESULT initialised = CoInitialize(nullptr);
    IUnknown* mapper = nullptr;
    HRESULT result = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
    if (FAILED(result))
        result = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper, reinterpret_cast<void**>(&mapper));
    if (mapper)
        mapper->Release();
    CoFreeUnusedLibraries();
    if (SUCCEEDED(initialised))
        CoUninitialize();
    return result;
}

} // namespace

HRESULT DeleteKeyTree(HKEY parent, const wchar_t* name) {
    if (!name || !*name)
        return E_FAIL;
    HKEY key;
    LONG error = RegOpenKeyExW(parent, name, 0, MAXIMUM_ALLOWED, &key);
    if (error == ERROR_SUCCESS) {
        HRESULT result = S_OK;
        for (;;) {
            wchar_t child[MAX_PATH];
            DWORD length = MAX_PATH;
            if (RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            // A subkey that stays would be enumerated again forever.
            result = DeleteKeyTree(key, child);
            if (FAILED(result))
                break;
        }
        RegCloseKey(key);
        if (FAILED(result))
            return result;
    }
    // Also for a key that could not be opened: it may still be deletable, and if it is not,
    // the caller must not take it for gone.
    error = RegDeleteKeyW(parent, name);
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND ? S_OK : FromError(error);
}

HRESULT RegisterClasses(bool registering) {
    // The wide call: the ANSI one would register a damaged path for a module in a folder
    // whose name the ANSI code page cannot spell.
    wchar_t modulePath[MAX_PATH];
    const DWORD length = GetModuleFileNameW(ModuleInstance(), modulePath, MAX_PATH);
    if (length == 0)
        return FromError(static_cast<LONG>(GetLastError()));
    if (length >= MAX_PATH)
        return FromError(ERROR_INSUFFICIENT_BUFFER); // truncated path

    if (registering) {
        for (const CFactoryTemplate& entry : ModuleTemplates()) {
            const HRESULT result = RegisterClassKey(entry, modulePath);
            if (FAILED(result))
                return result;
        }
    }

    HRESULT result = CheckFilterMapper();
    if (FAILED(result) || registering)
        return result;

    for (const CFactoryTemplate& entry : ModuleTemplates()) {
        wchar_t name[64];
        ClassKeyName(*entry.clsid, name);
        const HRESULT deleted = DeleteKeyTree(HKEY_CLASSES_ROOT, name);
        if (FAILED(deleted) && SUCCEEDED(result))
            result = deleted;
    }
    return result;
}

} // namespace zyn
