#include "driver/image/filter_dispatch.h"

#include "driver/core/camera_device.h"
#include "driver/image/device_dispatch.h"

namespace zyn {

namespace {

// The filter's context, owned by the filter's object bag.
class FilterContext : public PoolObject<kTagContext> {
public:
    explicit FilterContext(PKSFILTER filter) : filter_(filter) {}
    static VOID ReleaseFromBag(PVOID context) { delete static_cast<FilterContext*>(context); }

private:
    PKSFILTER const filter_;
};

} // namespace

NTSTATUS FilterCreate(PKSFILTER filter, PIRP) {
    auto* context = new (NonPagedPool) FilterContext(filter);
    if (context == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    const NTSTATUS status =
        KsAddItemToObjectBag(filter->Bag, context, FilterContext::ReleaseFromBag);
    if (!NT_SUCCESS(status)) {
        delete context;
        return status;
    }
    filter->Context = context;
    return STATUS_SUCCESS;
}

NTSTATUS FilterClose(PKSFILTER filter, PIRP) {
    if (CameraDevice* camera = CameraDeviceOf(KsGetDevice(filter))) {
        (VOID) camera->saveSettings();
    }
    return STATUS_SUCCESS;
}

const KSFILTER_DISPATCH kFilterDispatch = {
    FilterCreate, // Create
    FilterClose,  // Close
    nullptr,      // Process: the filter is pin-centric
    nullptr,      // Reset
};

} // namespace zyn
