// The OculixZYN.ax under test, loaded once per test program, and where the tests write their
// screenshots. Paths come from the environment that scripts/test-windows sets:
// ZYN_PLUGIN_X64, ZYN_PLUGIN_X86 (the two builds) and ZYN_SCREENSHOTS (a folder).
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

namespace zyn::test {

struct PluginModule {
    HMODULE module = nullptr;
    std::wstring path;
    HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* registerServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregisterServer)() = nullptr;

    // Loads the module at `path` and looks up its exports; false when any is missing.
    bool Load(const std::wstring& modulePath);
    void Unload();
};

// The module of this program's own architecture.
PluginModule& Plugin();

// The module of either build, from the environment; empty when not given.
std::wstring PluginPath(bool x64);

// `name`.png in the screenshot folder; empty when no folder was given.
std::wstring ScreenshotPath(const wchar_t* name);

// The class factory of `clsid` in the module under test (one reference for the caller).
IClassFactory* ClassFactory(REFCLSID clsid);

inline constexpr bool kX64 = sizeof(void*) == 8;

} // namespace zyn::test
