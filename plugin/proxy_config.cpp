#include "plugin/proxy_config.h"

#include <vfwmsgs.h>

#include <new>

#include "plugin/class_ids.h"

namespace zyn {

COculixDSProxyConfig::COculixDSProxyConfig(IKsPropertySet* properties)
    : CUnknown(kExtensionName, properties), properties_(properties) {}

CUnknown* COculixDSProxyConfig::CreateInstance(IUnknown* outer, HRESULT* result) {
    if (!outer) {
        *result = VFW_E_NEED_OWNER;
        return nullptr;
    }
    IKsPropertySet* properties = nullptr;
    HRESULT queried =
        outer->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&properties));
    if (SUCCEEDED(queried) && !properties)
        queried = E_NOINTERFACE;
    if (FAILED(queried)) {
        *result = queried;
        return nullptr;
    }
    auto* created = new (std::nothrow) COculixDSProxyConfig(properties);
    properties->Release();
    *result = created ? queried : E_OUTOFMEMORY;
    return created;
}

HRESULT STDMETHODCALLTYPE COculixDSProxyConfig::NonDelegatingQueryInterface(REFIID iid,
                                                                            void** object) {
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IOculixZYNDSConfig))
        return Expose(static_cast<IOculixZYNDSConfig*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

// Each request sends one record, on this thread's stack, as both the instance data and the
// property data. Only the header and the value fields are written: the driver reads nothing
// else of a scalar record.

HRESULT STDMETHODCALLTYPE COculixDSProxyConfig::GetProperty(ULONG id, LONG* value) {
    if (!value)
        return E_POINTER;
    CameraPropertyValue record;
    record.Set = KSPROPSETID_CameraSettings;
    record.Id = id;
    record.Flags = CAMERA_PROPERTY_GET;
    record.Value = *value; // what the caller keeps when the driver does not answer
    DWORD returned = 0;
    const HRESULT result = properties_->Get(KSPROPSETID_CameraSettings, id, &record, sizeof(record),
                                            &record, sizeof(record), &returned);
    *value = record.Value;
    return result;
}

HRESULT STDMETHODCALLTYPE COculixDSProxyConfig::SetProperty(ULONG id, LONG value) {
    CameraPropertyValue record;
    record.Set = KSPROPSETID_CameraSettings;
    record.Id = id;
    record.Flags = CAMERA_PROPERTY_SET;
    record.Value = value;
    return properties_->Set(KSPROPSETID_CameraSettings, id, &record, sizeof(record), &record,
                            sizeof(record));
}

HRESULT STDMETHODCALLTYPE COculixDSProxyConfig::SetRegion(LONG subSample, LONG x, LONG y,
                                                          LONG width, LONG height) {
    CameraRegionValue record;
    record.Set = KSPROPSETID_CameraSettings;
    record.Id = CAMPROP_REGION;
    record.Flags = CAMERA_PROPERTY_SET;
    record.SubSample = subSample;
    record.X = x;
    record.Y = y;
    record.Width = width;
    record.Height = height;
    return properties_->Set(KSPROPSETID_CameraSettings, CAMPROP_REGION, &record, sizeof(record),
                            &record, sizeof(record));
}

} // namespace zyn
