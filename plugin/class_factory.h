// The class factory and the table of classes the module serves.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "plugin/unknown.h"

namespace zyn {

// Builds an object for `outer` (null when not aggregated). Sets *result and returns the new
// object, or null on failure.
using CreateObjectFunction = CUnknown* (*)(IUnknown* outer, HRESULT* result);
// Called with TRUE when the module loads and FALSE when it unloads.
using InitRoutine = void (*)(BOOL loading, const CLSID* clsid);

struct CFactoryTemplate {
    const wchar_t* name;
    const CLSID* clsid;
    CreateObjectFunction create;
    InitRoutine init;
};

// The module's class table, in registration order.
struct TemplateTable {
    const CFactoryTemplate* entries;
    int count;
    const CFactoryTemplate* begin() const { return entries; }
    const CFactoryTemplate* end() const { return entries + count; }
};
TemplateTable ModuleTemplates();

class CClassFactory final : public IClassFactory, public CBaseObject {
public:
    explicit CClassFactory(const CFactoryTemplate& classTemplate);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    const CFactoryTemplate& template_;
    volatile LONG references_ = 0;
};

} // namespace zyn
