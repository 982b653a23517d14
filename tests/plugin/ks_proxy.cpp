#include "tests/plugin/ks_proxy.h"

#include <ks.h>
#include <winternl.h>

#include <cstring>
#include <vector>

#include "plugin/class_ids.h"
#include "tests/plugin/fake_filter.h"
#include "tests/plugin/plugin_module.h"
#include "tests/plugin/simulated_pc/simulated_pc.h"

namespace zyn::test {

KsProxy* KsProxy::Create() {
    return new KsProxy;
}

HRESULT KsProxy::FromStatus(LONG status) {
    if (status >= 0)
        return S_OK;
    return HRESULT_FROM_WIN32(RtlNtStatusToDosError(status));
}

HRESULT KsProxy::Request(REFGUID set, DWORD id, ULONG flags, const void* instance,
                         DWORD instanceLength, void* data, DWORD dataLength, DWORD* returned) {
    // KSPROPERTY, then the instance data, in a buffer aligned as the header wants.
    std::vector<LONGLONG> input((sizeof(KSPROPERTY) + instanceLength + 7) / 8);
    auto* property = reinterpret_cast<KSPROPERTY*>(input.data());
    property->Set = set;
    property->Id = id;
    property->Flags = flags;
    if (instanceLength)
        std::memcpy(property + 1, instance, instanceLength);
    uint32_t bytes = 0;
    const LONG status =
        ZynSimProperty(property, static_cast<uint32_t>(sizeof(KSPROPERTY) + instanceLength), data,
                       dataLength, &bytes);
    if (returned)
        *returned = bytes;
    return FromStatus(status);
}

HRESULT STDMETHODCALLTYPE KsProxy::Set(REFGUID set, DWORD id, void* instance, DWORD instanceLength,
                                       void* data, DWORD dataLength) {
    LONG value = 0;
    if (dataLength >= 28)
        std::memcpy(&value, static_cast<const uint8_t*>(data) + 24, sizeof(value));
    sets.emplace_back(id, value);
    return Request(set, id, KSPROPERTY_TYPE_SET, instance, instanceLength, data, dataLength,
                   nullptr);
}

HRESULT STDMETHODCALLTYPE KsProxy::Get(REFGUID set, DWORD id, void* instance, DWORD instanceLength,
                                       void* data, DWORD dataLength, DWORD* returned) {
    ++gets;
    return Request(set, id, KSPROPERTY_TYPE_GET, instance, instanceLength, data, dataLength,
                   returned);
}

} // namespace zyn::test
