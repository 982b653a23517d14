// The kernel streaming proxy of the camera's capture filter on the simulated PC, as an
// application's graph holds it: the outer object that aggregates the plug-in's extension
// object, and whose IKsPropertySet turns each call into a property request on the driver's
// filter. A request carries the proxy's own property header (set, id, flags) followed by the
// caller's instance data as its input, and the caller's property data as its buffer.
//
// A driver failure comes back as the Win32 error that the platform's NTSTATUS translation gives
// (RtlNtStatusToDosError, what DeviceIoControl reports), as an HRESULT: HRESULT_FROM_WIN32.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <utility>
#include <vector>

#include "tests/plugin/outer_filter.h"

namespace zyn::test {

class KsProxy final : public OuterFilter {
public:
    // One reference for the caller. The simulated PC must be open.
    static KsProxy* Create();

    // Every SET sent to the driver so far: id and the value at offset 24 of its record.
    std::vector<std::pair<DWORD, LONG>> sets;
    // GET requests sent so far.
    unsigned gets = 0;

    // The HRESULT the proxy reports for a driver's NTSTATUS.
    static HRESULT FromStatus(LONG status);

    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, void* instance, DWORD instanceLength,
                                  void* data, DWORD dataLength) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, void* instance, DWORD instanceLength,
                                  void* data, DWORD dataLength, DWORD* returned) override;

private:
    KsProxy() = default;
    ~KsProxy() override = default;
    HRESULT Request(REFGUID set, DWORD id, ULONG flags, const void* instance, DWORD instanceLength,
                    void* data, DWORD dataLength, DWORD* returned);
};

} // namespace zyn::test
