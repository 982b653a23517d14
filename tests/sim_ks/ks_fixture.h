// Fixture for tests with the fake minidriver: a physical device object of a bus driver of its
// own for the device to attach to, the driver reset, and every leak checked at the end.
#pragma once

#include <chrono>

#include "sim/host/host.h"
#include "tests/sim_ks/fake_minidriver.h"
#include "tests/support/verified_test.h"

namespace fake {

class KsTest : public sim::testing::VerifiedTest {
protected:
    void SetUp() override {
        VerifiedTest::SetUp();
        Reset();
        bus_ = sim::CreateDriverObject(L"FakeBus");
        ASSERT_EQ(IoCreateDevice(bus_, 0, nullptr, FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &pdo_),
                  STATUS_SUCCESS);
        pdo_->Flags &= ~DO_DEVICE_INITIALIZING;
    }
    void TearDown() override {
        IoDeleteDevice(pdo_);
        sim::DeleteDriverObject(bus_);
        VerifiedTest::TearDown();
    }

    std::shared_ptr<sim::host::Driver> Load() {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        auto driver = sim::host::Driver::Load(L"FakeCapture", DriverEntry, &status);
        EXPECT_EQ(status, STATUS_SUCCESS);
        return driver;
    }

    // A started device of the fake driver.
    std::unique_ptr<sim::host::Device> Started(std::shared_ptr<sim::host::Driver> driver) {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        auto device = sim::host::Device::Add(std::move(driver), pdo_, &status);
        EXPECT_EQ(status, STATUS_SUCCESS);
        if (device != nullptr) {
            EXPECT_EQ(device->Start(), STATUS_SUCCESS);
        }
        return device;
    }

    static constexpr std::chrono::seconds kPatience{10};

    PDRIVER_OBJECT bus_ = nullptr;
    PDEVICE_OBJECT pdo_ = nullptr;
};

} // namespace fake
