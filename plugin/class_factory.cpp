#include "plugin/class_factory.h"

#include <new>

#include "plugin/module.h"

namespace zyn {

CClassFactory::CClassFactory(const CFactoryTemplate& classTemplate)
    : CBaseObject(L"Class factory"), template_(classTemplate) {}

HRESULT STDMETHODCALLTYPE CClassFactory::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        AddRef();
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CClassFactory::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE CClassFactory::Release() {
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown* outer, REFIID iid,
                                                        void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    // An aggregated object can only hand its non-delegating IUnknown to its outer object.
    if (outer && !IsEqualIID(iid, IID_IUnknown))
        return E_NOINTERFACE;

    HRESULT result = S_OK;
    CUnknown* created = template_.create(outer, &result);
    if (!created)
        return FAILED(result) ? result : E_OUTOFMEMORY;
    if (FAILED(result)) {
        delete created;
        return result;
    }
    // Hold the object across the query so that a failed query destroys it.
    created->NonDelegatingAddRef();
    result = created->NonDelegatingQueryInterface(iid, object);
    created->NonDelegatingRelease();
    return result;
}

HRESULT STDMETHODCALLTYPE CClassFactory::LockServer(BOOL lock) {
    LockModule(lock != FALSE);
    return S_OK;
}

} // namespace zyn
