// The reference-counted object model of the plug-in: every object counts as live for
// DllCanUnloadNow, and aggregatable objects carry a non-delegating IUnknown beside the
// delegating one their interfaces expose.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace zyn {

// The object's own IUnknown. Its first three slots have IUnknown's layout, so it is handed to
// an aggregating outer object as its IUnknown.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Counts towards the module's live objects for as long as it exists.
class CBaseObject {
public:
    explicit CBaseObject(const wchar_t* name);
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    virtual ~CBaseObject();

    const wchar_t* Name() const { return name_; }

private:
    const wchar_t* const name_;
};

// An object that may be aggregated: IUnknown calls through its interfaces go to the owner
// (the outer object, or the object itself when it stands alone); the non-delegating IUnknown
// keeps the object's own reference count.
class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    CUnknown(const wchar_t* name, IUnknown* outer);

    IUnknown* Owner() const { return owner_; }
    IUnknown* NonDelegatingUnknown() {
        return reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this));
    }

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

protected:
    // Hands out `iface` AddRef'd through itself (so through the owner for delegating ones).
    static HRESULT Expose(IUnknown* iface, void** object) {
        iface->AddRef();
        *object = iface;
        return S_OK;
    }
    // The non-delegating QueryInterface of a class that adds the one interface `own`, reached
    // through `iface`, to IUnknown.
    HRESULT ExposeOwnInterface(REFIID iid, REFIID own, IUnknown* iface, void** object);

private:
    volatile LONG references_ = 0;
    IUnknown* const owner_;
};

} // namespace zyn

// The delegating IUnknown of a class derived from CUnknown, for each interface it implements.
#define ZYN_DELEGATING_IUNKNOWN                                                                    \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {                 \
        return Owner()->QueryInterface(iid, object);                                               \
    }                                                                                              \
    ULONG STDMETHODCALLTYPE AddRef() override {                                                    \
        return Owner()->AddRef();                                                                  \
    }                                                                                              \
    ULONG STDMETHODCALLTYPE Release() override {                                                   \
        return Owner()->Release();                                                                 \
    }
