#include "plugin/unknown.h"

#include "plugin/module.h"

namespace zyn {

CBaseObject::CBaseObject(const wchar_t* name) : name_(name) {
    ObjectCreated();
}

CBaseObject::~CBaseObject() {
    ObjectDestroyed();
}

CUnknown::CUnknown(const wchar_t* name, IUnknown* outer)
    : CBaseObject(name), owner_(outer ? outer : NonDelegatingUnknown()) {}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
        NonDelegatingAddRef();
        *object = NonDelegatingUnknown();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT CUnknown::ExposeOwnInterface(REFIID iid, REFIID own, IUnknown* iface, void** object) {
    if (object && IsEqualIID(iid, own))
        return Expose(iface, object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef() {
    const LONG count = InterlockedIncrement(&references_);
    return count > 1 ? static_cast<ULONG>(count) : 1;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease() {
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0) {
        // Calls made from the destructor (an outer object releasing a cached interface,
        // for instance) must not reach zero a second time.
        references_ = 1;
        delete this;
        return 0;
    }
    return count > 1 ? static_cast<ULONG>(count) : 1;
}

} // namespace zyn
