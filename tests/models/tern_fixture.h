// An emulated Tern on the simulated bus with the Tern driver image, for tests of the driver's
// device, filter, property set and settings. Every test starts with an empty registry and
// ends with the device removed and the image unloaded, leaving nothing behind.
#pragma once

#include "driver/models/tern/tern_driver.h"
#include "tests/models/model_driver_fixture.h"

namespace tern_test {

using sim::host::PropertyResult;

class TernTest : public model_test::ModelDriverTest {
protected:
    void SetUp() override {
        ModelDriverTest::SetUp();
        Plug("tern");
    }
};

} // namespace tern_test
