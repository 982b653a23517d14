// The module's entry points: the class table and the five exports of the COM server.
#include <windows.h>

#include <new>

#include "plugin/class_factory.h"
#include "plugin/class_ids.h"
#include "plugin/module.h"
#include "plugin/plugin_page.h"
#include "plugin/proxy_config.h"
#include "plugin/registration.h"

namespace zyn {
namespace {

const CFactoryTemplate kTemplates[] = {
    {kPropertyPageName, &CLSID_OculixZYNPropertyPage, COculixDSProxyPluginPage::CreateInstance,
     nullptr},
    {kExtensionName, &CLSID_OculixZYNExtension, COculixDSProxyConfig::CreateInstance, nullptr},
};

void RunInitRoutines(BOOL loading) {
    for (const CFactoryTemplate& entry : kTemplates) {
        if (entry.init)
            entry.init(loading, entry.clsid);
    }
}

} // namespace

TemplateTable ModuleTemplates() {
    return {kTemplates, static_cast<int>(sizeof(kTemplates) / sizeof(kTemplates[0]))};
}

} // namespace zyn

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        zyn::RecordModulePlatform();
        zyn::SetModuleInstance(instance);
        zyn::RunInitRoutines(TRUE);
        break;
    case DLL_PROCESS_DETACH:
        zyn::RunInitRoutines(FALSE);
        break;
    }
    return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
        return E_NOINTERFACE;
    for (const zyn::CFactoryTemplate& entry : zyn::ModuleTemplates()) {
        if (!IsEqualCLSID(clsid, *entry.clsid))
            continue;
        auto* factory = new (std::nothrow) zyn::CClassFactory(entry);
        if (!factory)
            return E_OUTOFMEMORY;
        factory->AddRef();
        *object = static_cast<IClassFactory*>(factory);
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return zyn::ModuleInUse() ? S_FALSE : S_OK;
}

HRESULT STDAPICALLTYPE DllRegisterServer() {
    const HRESULT result = zyn::RegisterClasses(true);
    if (FAILED(result))
        return result;
    return zyn::RegisterProxyEntries();
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
    // The class keys go first and whatever they report; what the caller learns is whether the
    // proxy can still find the module.
    zyn::RegisterClasses(false);
    return zyn::UnregisterProxyEntries();
}

} // extern "C"
