// COculixDSProxyConfig: the interface handler that the kernel streaming proxy aggregates into
// the capture filter. It turns IOculixZYNDSConfig calls into property requests on the proxy's
// IKsPropertySet and keeps no setting of its own.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "oculix_zyn_config.h"
#include "plugin/unknown.h"

namespace zyn {

class COculixDSProxyConfig final : public CUnknown, public IOculixZYNDSConfig {
public:
    // The class factory's creation function. The object exists only aggregated.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    ZYN_DELEGATING_IUNKNOWN

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT STDMETHODCALLTYPE GetProperty(ULONG id, LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetProperty(ULONG id, LONG value) override;
    HRESULT STDMETHODCALLTYPE SetRegion(LONG subSample, LONG x, LONG y, LONG width,
                                        LONG height) override;

private:
    explicit COculixDSProxyConfig(IKsPropertySet* properties);

    // The outer object's own interface: no reference is held, or the filter could never be
    // freed. It lives exactly as long as this object.
    IKsPropertySet* const properties_;
};

} // namespace zyn
