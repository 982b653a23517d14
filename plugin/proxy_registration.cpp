#include <objbase.h>

#include "plugin/class_ids.h"
#include "plugin/registration.h"

namespace zyn {
namespace {

constexpr wchar_t kMediaSets[] = L"System\\CurrentControlSet\\Control\\MediaSets";
constexpr wchar_t kMediaInterfaces[] = L"System\\CurrentControlSet\\Control\\MediaInterfaces";
constexpr wchar_t kPropertyPages[] = L"PropertyPages";

HRESULT FromError(LONG error) {
    return HRESULT_FROM_WIN32(static_cast<unsigned long>(error));
}

struct BracedGuid {
    explicit BracedGuid(const GUID& guid) { StringFromGUID2(guid, text, 40); }
    wchar_t text[40];
};

LONG SetString(HKEY key, const wchar_t* valueName, const wchar_t* text) {
    const DWORD bytes = static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

// Closes the key it holds when it goes out of scope.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() {
        if (key_)
            RegCloseKey(key_);
    }
    HKEY* Out() { return &key_; }
    operator HKEY() const { return key_; }

private:
    HKEY key_ = nullptr;
};

} // namespace

HRESULT RegisterProxyEntries() {
    const BracedGuid set(KSPROPSETID_CameraSettings);
    const BracedGuid page(CLSID_OculixZYNPropertyPage);
    wchar_t name[256];

    // The page is an extra for users; a module without it still serves applications, so a
    // failure here does not fail registration.
    wsprintfW(name, L"%ls\\%ls\\%ls\\%ls", kMediaSets, set.text, kPropertyPages, page.text);
    {
        RegistryKey pageKey;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            pageKey.Out(), nullptr) == ERROR_SUCCESS)
            SetString(pageKey, L"", kPropertyPageName);
    }

    wsprintfW(name, L"%ls\\%ls", kMediaInterfaces, set.text);
    RegistryKey handlerKey;
    LONG error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 handlerKey.Out(), nullptr);
    if (error != ERROR_SUCCESS)
        return FromError(error);
    error = SetString(handlerKey, L"", kExtensionName);
    if (error == ERROR_SUCCESS)
        error = RegSetValueExW(handlerKey, L"IID", 0, REG_BINARY,
                               reinterpret_cast<const BYTE*>(&KSPROPSETID_CameraSettings),
                               sizeof(GUID));
    return error == ERROR_SUCCESS ? S_OK : FromError(error);
}

HRESULT UnregisterProxyEntries() {
    const BracedGuid set(KSPROPSETID_CameraSettings);
    const BracedGuid page(CLSID_OculixZYNPropertyPage);
    wchar_t name[256];

    // Another page registered for the same set keeps PropertyPages and the set's key alive:
    // deleting a key that has subkeys fails, and that failure stops the walk up.
    bool pageEntryGone = false;
    wsprintfW(name, L"%ls\\%ls", kMediaSets, set.text);
    {
        RegistryKey setKey;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, name, 0, KEY_ALL_ACCESS, setKey.Out()) ==
            ERROR_SUCCESS) {
            bool pageDeleted = false;
            {
                RegistryKey pagesKey;
                if (RegOpenKeyExW(setKey, kPropertyPages, 0, KEY_ALL_ACCESS, pagesKey.Out()) ==
                    ERROR_SUCCESS)
                    pageDeleted = RegDeleteKeyW(pagesKey, page.text) == ERROR_SUCCESS;
            }
            pageEntryGone = pageDeleted && RegDeleteKeyW(setKey, kPropertyPages) == ERROR_SUCCESS;
        }
    }
    if (pageEntryGone) {
        RegistryKey setsKey;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMediaSets, 0, KEY_ALL_ACCESS, setsKey.Out()) ==
            ERROR_SUCCESS)
            RegDeleteKeyW(setsKey, set.text);
    }

    RegistryKey interfacesKey;
    LONG error =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMediaInterfaces, 0, KEY_ALL_ACCESS, interfacesKey.Out());
    if (error != ERROR_SUCCESS)
        return FromError(error);
    error = RegDeleteKeyW(interfacesKey, set.text);
    return error == ERROR_SUCCESS ? S_OK : FromError(error);
}

} // namespace zyn
