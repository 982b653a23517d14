#include "plugin/proxy_config.h"

#include <vfwmsgs.h>

#include <new>

#include "plugin/class_ids.h"

namespace zyn {
namespace {

// A request record for property `id` of the camera's set, its header filled.
template <class Record> Record Request(ULONG id, ULONG flags) {
    Record record;
    record.Set = KSPROPSETID_CameraSettings;
    record.Id = id;
    record.Flags = flags;
    return record;
}

} // namespace

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
    return ExposeOwnInterface(iid, IID_IOculixZYNDSConfig, static_cast<IOculixZYNDSConfig*>(this),
                              object);
}

// Each request sends one record, on this thread's stack, as both the instance data and the
// property data. Only the header and the value fields are written: the driver reads nothing
// else of a scalar record.

HRESULT STDMETHODCALLTYPE COculixDSProxyConfig::GetProperty(ULONG id, LONG* value) {
    if (!value)
        return E_POINTER;
    auto record = Request<CameraPropertyValue>(id, CAMERA_PROPERTY_GET);
    record.Value = *value; // what the caller keeps when the driver does not answer
    DWORD returned = 0;
    const HRESULT result = properties_->Get(KSPROPSETID_CameraSettings, id, &record, sizeof(record),
                                            &record, sizeof(record), &returned);
    *value = record.Value;
    return result;
}

HRESULT STDMETHODCALLTYPE COculixDSProxyConfig::SetProperty(ULONG id, LONG value) {
    auto record = Request<CameraPropertyValue>(id, CAMERA_PROPERTY_SET);
    record.Value = value;
    return properties_->Set(KSPROPSETID_CameraSettings, id, &record, sizeof(record), &record,
                            sizeof(record));
}

HRESULT STDMETHODCALLTYPE COculixDSProxyConfig::SetRegion(LONG subSample, LONG x, LONG y,
                                                          LONG width, LONG height) {
    auto record = Request<CameraRegionValue>(CAMPROP_REGION, CAMERA_PROPERTY_SET);
    record.SubSample = subSample;
    record.X = x;
    record.Y = y;
    record.Width = width;
    record.Height = height;
    return properties_->Set(KSPROPSETID_CameraSettings, CAMPROP_REGION, &record, sizeof(record),
                            &record, sizeof(record));
}

} // namespace zyn
