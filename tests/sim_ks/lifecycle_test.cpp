// Driver images and Plug and Play: the dispatch routines in the platform's order, object bags
// freed with their owners, failures undone, and misuse reported.
#include <algorithm>

#include "sim/ks/object_bag.h"
#include "tests/sim_ks/ks_fixture.h"

namespace fake {
namespace {

using sim::host::Device;
using Strings = std::vector<std::string>;

TEST_F(KsTest, PlugAndPlayRunsTheDispatchRoutinesInOrderAndFreesTheBags) {
    auto driver = Load();
    NTSTATUS status;
    auto device = Device::Add(driver, pdo_, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    EXPECT_FALSE(device->ks()->Started);
    EXPECT_EQ(device->ks()->PhysicalDeviceObject, pdo_);
    EXPECT_EQ(device->ks()->NextDeviceObject, pdo_);
    EXPECT_EQ(device->factoryCount(), 0u);

    ASSERT_EQ(device->Start(), STATUS_SUCCESS);
    EXPECT_TRUE(device->ks()->Started);
    EXPECT_EQ(device->factoryCount(), 1u);
    {
        auto filter = device->OpenFilter(&KSCATEGORY_CAPTURE, &status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        EXPECT_EQ(*static_cast<PKSFILTER*>(filter->context()), filter->ks());
    }
    device->Stop();
    EXPECT_FALSE(device->ks()->Started);
    EXPECT_EQ(device->factoryCount(), 0u) << "KSCREATE_ITEM_FREEONSTOP";

    ASSERT_EQ(device->Start(), STATUS_SUCCESS);
    EXPECT_EQ(device->factoryCount(), 1u) << "each start makes a new factory";
    device->Remove();
    EXPECT_TRUE(device->removed());

    EXPECT_EQ(Log(), (Strings{"Add", "Start", "FilterCreate 1", "FilterClose", "FilterContextFreed",
                              "Stop", "Start", "Stop", "DeviceContextFreed"}));
}

TEST_F(KsTest, FailuresAreUndoneAndReturned) {
    config().entryStatus = STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status;
    EXPECT_EQ(sim::host::Driver::Load(L"FakeCapture", DriverEntry, &status), nullptr);
    EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES);

    config().entryStatus = STATUS_SUCCESS;
    config().addStatus = STATUS_DEVICE_DATA_ERROR;
    auto driver = Load();
    EXPECT_EQ(Device::Add(driver, pdo_, &status), nullptr);
    EXPECT_EQ(status, STATUS_DEVICE_DATA_ERROR);
    EXPECT_EQ(Log(), (Strings{"Add", "DeviceContextFreed"}));
    EXPECT_EQ(pdo_->AttachedDevice, nullptr);

    // A failed start goes back through Stop and takes its factory along.
    ClearLog();
    config().addStatus = STATUS_SUCCESS;
    config().startStatus = STATUS_DEVICE_NOT_CONNECTED;
    auto device = Device::Add(driver, pdo_, &status);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->Start(), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(device->started());
    EXPECT_EQ(device->factoryCount(), 0u);
    EXPECT_EQ(device->OpenFilter(nullptr, &status), nullptr);
    EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND) << "no factory is left to open";
    device.reset();
    EXPECT_EQ(Log(), (Strings{"Add", "Start", "Stop", "DeviceContextFreed"}));
}

TEST_F(KsTest, BagInsertionFailsUnderLowResources) {
    auto driver = Load();
    sim::pool::FailAllocationsWithTag(sim::ks::kClassDriverTag);
    NTSTATUS status;
    auto device = Device::Add(driver, pdo_, &status);
    sim::pool::ClearInjectedFailures();
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(Logged("DeviceContextFreed")) << "the driver freed it itself";
}

TEST_F(KsTest, QueryCapabilitiesPassesTheBusCapabilitiesToTheDriver) {
    auto driver = Load();
    auto device = Started(driver);
    DEVICE_CAPABILITIES capabilities;
    ASSERT_EQ(device->QueryCapabilities(&capabilities), STATUS_SUCCESS);
    EXPECT_EQ(capabilities.Removable, 1u);
    EXPECT_EQ(capabilities.Size, sizeof capabilities);

    config().clearRemovable = true;
    ASSERT_EQ(device->QueryCapabilities(&capabilities), STATUS_SUCCESS);
    EXPECT_EQ(capabilities.Removable, 0u);
    EXPECT_EQ(capabilities.SurpriseRemovalOK, 1u);
}

TEST_F(KsTest, KernelStreamingObjectsAreFoundFromEachOther) {
    auto driver = Load();
    auto device = Started(driver);
    auto filter = device->OpenFilter();
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(KsGetDevice(filter->ks()), device->ks());
    EXPECT_EQ(KsGetDevice(device->ks()), device->ks());
    EXPECT_EQ(KsGetDeviceForDeviceObject(device->ks()->FunctionalDeviceObject), device->ks());
    auto* factory = static_cast<PKSFILTERFACTORY>(KsGetParent(filter->ks()));
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->FilterDescriptor, filter->ks()->Descriptor);
    EXPECT_EQ(KsGetParent(factory), device->ks());

    sim::testing::VerifierCapture capture;
    int notAnObject = 0;
    EXPECT_EQ(KsGetDevice(&notAnObject), nullptr);
    EXPECT_TRUE(capture.Saw("KsGetDevice"));
}

TEST_F(KsTest, AddingAnItemTwiceToABagIsReported) {
    config().addTwice = true;
    auto driver = Load();
    auto device = Started(driver);
    sim::testing::VerifierCapture capture;
    auto filter = device->OpenFilter();
    ASSERT_NE(filter, nullptr);
    EXPECT_TRUE(capture.Saw("already in the object bag"));
    filter.reset();
    const Strings log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), std::string("FilterContextFreed")), 1);
}

TEST_F(KsTest, UnloadReportsWhatTheImageLeft) {
    auto driver = Load();
    auto device = Started(driver);
    PVOID leaked = ExAllocatePoolWithTag(NonPagedPool, 24, kContextTag);
    device.reset();
    {
        sim::testing::VerifierCapture capture;
        driver.reset();
        EXPECT_TRUE(capture.Saw("driver image(s) FakeCapture unloaded: leaked pool block"));
        EXPECT_EQ(capture.Count(), 1u);
    }
    ExFreePoolWithTag(leaked, kContextTag);
}

TEST_F(KsTest, QueriesAreCancelledOnlyAfterTheyWereGranted) {
    auto driver = Load();
    auto device = Started(driver);
    ASSERT_EQ(device->QueryStop(), STATUS_SUCCESS);
    device->CancelStop();
    ASSERT_EQ(device->QueryRemove(), STATUS_SUCCESS);
    device->CancelRemove();
    EXPECT_TRUE(device->started());
    sim::testing::VerifierCapture capture;
    device->CancelStop();
    device->CancelRemove();
    EXPECT_TRUE(capture.Saw("cancel-stop of a device of FakeCapture without a query-stop"));
    EXPECT_TRUE(capture.Saw("cancel-remove of a device of FakeCapture without a query-remove"));
    EXPECT_EQ(capture.Count(), 2u);
}

// Resources rebalanced while an application holds the filter: the Stop comes with the filter
// open, and its factory stays until the filter closes.
TEST_F(KsTest, StopWithHandlesOpenKeepsTheFactoryOfAnOpenFilter) {
    auto driver = Load();
    auto device = Started(driver);
    NTSTATUS status;
    auto filter = device->OpenFilter(&KSCATEGORY_CAPTURE, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    ASSERT_EQ(device->QueryStop(), STATUS_SUCCESS);
    device->StopWithHandlesOpen();
    EXPECT_FALSE(device->started());
    EXPECT_EQ(device->factoryCount(), 1u);
    filter.reset();
    ASSERT_EQ(device->Start(), STATUS_SUCCESS);
    EXPECT_EQ(device->factoryCount(), 2u);
    device->Stop();
    EXPECT_EQ(device->factoryCount(), 0u);
    EXPECT_EQ(Log(), (Strings{"Add", "Start", "FilterCreate 1", "Stop", "FilterClose",
                              "FilterContextFreed", "Start", "Stop"}));
}

} // namespace
} // namespace fake
