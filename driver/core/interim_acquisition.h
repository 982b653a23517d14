// Stand-in for the acquisition object until the streaming code provides it: what the device
// start needs of it (creation with its device, release by the device's object bag).
#pragma once

#include "driver/pool_object.h"
#include "driver/pool_tags.h"
#include "driver/wdk.h"

namespace zyn {

class CameraDevice;

class Acquisition : public PoolObject<kTagContext> {
public:
    explicit Acquisition(CameraDevice* device) : device_(device) {}
    static VOID ReleaseFromBag(PVOID acquisition) { delete static_cast<Acquisition*>(acquisition); }

private:
    CameraDevice* const device_;
};

} // namespace zyn
