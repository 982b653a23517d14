#include "tests/plugin/plugin_module.h"

#include <cstdlib>

namespace zyn::test {
namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t value[MAX_PATH * 2];
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH * 2);
    return length && length < MAX_PATH * 2 ? std::wstring(value, length) : std::wstring();
}

template <typename Function> bool Lookup(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

} // namespace

bool PluginModule::Load(const std::wstring& modulePath) {
    path = modulePath;
    module = LoadLibraryW(path.c_str());
    return module && Lookup(module, "DllGetClassObject", getClassObject) &&
           Lookup(module, "DllCanUnloadNow", canUnloadNow) &&
           Lookup(module, "DllRegisterServer", registerServer) &&
           Lookup(module, "DllUnregisterServer", unregisterServer);
}

void PluginModule::Unload() {
    if (module)
        FreeLibrary(module);
    *this = PluginModule();
}

PluginModule& Plugin() {
    static PluginModule plugin;
    return plugin;
}

std::wstring PluginPath(bool x64) {
    return Environment(x64 ? L"ZYN_PLUGIN_X64" : L"ZYN_PLUGIN_X86");
}

std::wstring ScreenshotPath(const wchar_t* name) {
    std::wstring folder = Environment(L"ZYN_SCREENSHOTS");
    if (folder.empty())
        return folder;
    return folder + L"\\" + name + L".png";
}

IClassFactory* ClassFactory(REFCLSID clsid) {
    IClassFactory* factory = nullptr;
    Plugin().getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    return factory;
}

} // namespace zyn::test
