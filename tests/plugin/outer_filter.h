// What every stand-in for the capture filter shares: the outer object's COM identity. It
// aggregates the plug-in's extension object, answers IUnknown and (when it offers one)
// IKsPropertySet itself, and hands every other interface to the extension object.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "oculix_zyn_config.h"

namespace zyn::test {

class OuterFilter : public IKsPropertySet {
public:
    // Aggregates the plug-in's extension object as the proxy does when it builds the filter;
    // returns the class factory's answer.
    HRESULT AggregateExtension();
    // IOculixZYNDSConfig from the filter, one reference for the caller (null when missing).
    IOculixZYNDSConfig* Config();
    IUnknown* Unknown() { return this; }
    LONG References() const { return references_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // The plug-in never asks which properties are supported: no stand-in answers.
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

protected:
    // One reference for the creator. Without `offersPropertySet` the filter answers no
    // IKsPropertySet, as a filter of another driver would.
    explicit OuterFilter(bool offersPropertySet = true) : offersPropertySet_(offersPropertySet) {}
    virtual ~OuterFilter();

private:
    LONG references_ = 1;
    const bool offersPropertySet_;
    IUnknown* inner_ = nullptr; // the extension object's non-delegating IUnknown
};

} // namespace zyn::test
