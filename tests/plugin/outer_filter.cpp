#include "tests/plugin/outer_filter.h"

#include "plugin/class_ids.h"
#include "tests/plugin/com_ref.h"
#include "tests/plugin/plugin_module.h"

namespace zyn::test {

OuterFilter::~OuterFilter() {
    if (inner_) {
        // The outer object guards itself while the inner one goes.
        references_ = 1;
        inner_->Release();
    }
}

HRESULT OuterFilter::AggregateExtension() {
    Ref<IClassFactory> factory(ClassFactory(CLSID_OculixZYNExtension));
    if (!factory)
        return E_UNEXPECTED;
    return factory->CreateInstance(this, IID_IUnknown, reinterpret_cast<void**>(&inner_));
}

IOculixZYNDSConfig* OuterFilter::Config() {
    IOculixZYNDSConfig* config = nullptr;
    QueryInterface(IID_IOculixZYNDSConfig, reinterpret_cast<void**>(&config));
    return config;
}

HRESULT STDMETHODCALLTYPE OuterFilter::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *object = static_cast<IUnknown*>(this);
    } else if (IsEqualIID(iid, IID_IKsPropertySet)) {
        if (!offersPropertySet_)
            return E_NOINTERFACE;
        *object = static_cast<IKsPropertySet*>(this);
    } else if (inner_) {
        return inner_->QueryInterface(iid, object);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE OuterFilter::AddRef() {
    return static_cast<ULONG>(++references_);
}

ULONG STDMETHODCALLTYPE OuterFilter::Release() {
    const LONG count = --references_;
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE OuterFilter::QuerySupported(REFGUID, DWORD, DWORD*) {
    return E_NOTIMPL;
}

} // namespace zyn::test
