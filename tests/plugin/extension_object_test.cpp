// IOculixZYNDSConfig aggregated into a filter: every call becomes one property request whose
// record reaches the filter's IKsPropertySet byte for byte.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "tests/plugin/fake_filter.h"
#include "tests/plugin/plugin_module.h"

namespace zyn::test {
namespace {

constexpr uint8_t kStackPattern = 0xA5;

// Fills the stack below the caller with a pattern, so that bytes of a record the plug-in
// builds there and never writes keep it.
__attribute__((noinline)) void PaintStack() {
    volatile uint8_t area[16384];
    for (auto& b : area)
        b = kStackPattern;
}

bool Untouched(const PropertyCall& call, size_t offset) {
    for (size_t i = offset; i < offset + 4; ++i) {
        if (call.record[i] != kStackPattern)
            return false;
    }
    return true;
}

class ExtensionObjectTest : public testing::Test {
protected:
    void SetUp() override {
        filter_ = FakeFilter::Create(DriverModel::Tern);
        ASSERT_EQ(S_OK, filter_->AggregateExtension());
        config_ = filter_->Config();
        ASSERT_NE(nullptr, config_);
    }
    void TearDown() override {
        if (config_)
            config_->Release();
        filter_->Release();
    }

    void ExpectHeader(const PropertyCall& call, DWORD id, DWORD flags, DWORD length) {
        EXPECT_TRUE(IsEqualGUID(KSPROPSETID_CameraSettings, call.propertySet));
        EXPECT_EQ(id, call.id);
        ASSERT_EQ(length, call.record.size()) << "instance data length";
        EXPECT_EQ(length, call.dataLength) << "property data length";
        EXPECT_TRUE(call.sameBuffer) << "the record is both instance data and property data";
        EXPECT_EQ(0, std::memcmp(&KSPROPSETID_CameraSettings, call.record.data(), 16));
        EXPECT_EQ(static_cast<int32_t>(id), call.Field(16));
        EXPECT_EQ(static_cast<int32_t>(flags), call.Field(20));
    }

    FakeFilter* filter_ = nullptr;
    IOculixZYNDSConfig* config_ = nullptr;
};

TEST_F(ExtensionObjectTest, GetSendsTheCallersValueAndReturnsTheDriversAnswer) {
    filter_->values[CAMPROP_EXPOSURE] = 777;
    LONG value = -5;
    PaintStack();
    EXPECT_EQ(S_OK, config_->GetProperty(CAMPROP_EXPOSURE, &value));
    EXPECT_EQ(777, value);

    ASSERT_EQ(1u, filter_->calls.size());
    const PropertyCall& call = filter_->calls[0];
    EXPECT_FALSE(call.set);
    ExpectHeader(call, CAMPROP_EXPOSURE, 1, 32);
    EXPECT_EQ(-5, call.Field(24)) << "the value field carries the caller's fallback";
    EXPECT_TRUE(Untouched(call, 28)) << "bytes 28 to 31 are not written";
}

TEST_F(ExtensionObjectTest, FailedGetLeavesTheCallersValueAndPassesTheFailureOn) {
    LONG value = 4242;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), config_->GetProperty(CAMPROP_DOT, &value));
    EXPECT_EQ(4242, value);

    filter_->failure = static_cast<HRESULT>(0x8007001F);
    filter_->idCount = 0;
    EXPECT_EQ(static_cast<HRESULT>(0x8007001F), config_->GetProperty(CAMPROP_EXPOSURE, &value));
    EXPECT_EQ(4242, value);
    EXPECT_EQ(static_cast<HRESULT>(0x8007001F), config_->SetProperty(CAMPROP_EXPOSURE, 1));
    EXPECT_EQ(static_cast<HRESULT>(0x8007001F), config_->SetRegion(0, 0, 0, 0, 0));
}

TEST_F(ExtensionObjectTest, GetWithoutAPlaceForTheValueIsRefused) {
    EXPECT_EQ(E_POINTER, config_->GetProperty(CAMPROP_EXPOSURE, nullptr));
    EXPECT_TRUE(filter_->calls.empty());
}

TEST_F(ExtensionObjectTest, SetSendsTheValue) {
    PaintStack();
    EXPECT_EQ(S_OK, config_->SetProperty(CAMPROP_HUE, -123456));
    ASSERT_EQ(1u, filter_->calls.size());
    const PropertyCall& call = filter_->calls[0];
    EXPECT_TRUE(call.set);
    ExpectHeader(call, CAMPROP_HUE, 2, 32);
    EXPECT_EQ(-123456, call.Field(24));
    EXPECT_TRUE(Untouched(call, 28)) << "bytes 28 to 31 are not written";
}

TEST_F(ExtensionObjectTest, SetRegionSendsTheRegionRecord) {
    PaintStack();
    EXPECT_EQ(S_OK, config_->SetRegion(3, 10, -20, 300, 400));
    ASSERT_EQ(1u, filter_->calls.size());
    const PropertyCall& call = filter_->calls[0];
    EXPECT_TRUE(call.set);
    ExpectHeader(call, CAMPROP_REGION, 2, 48);
    EXPECT_EQ(3, call.Field(24));
    EXPECT_EQ(10, call.Field(28));
    EXPECT_EQ(-20, call.Field(32));
    EXPECT_EQ(300, call.Field(36));
    EXPECT_EQ(400, call.Field(40));
    EXPECT_TRUE(Untouched(call, 44)) << "bytes 44 to 47 are not written";
}

TEST_F(ExtensionObjectTest, IUnknownOfTheInterfaceIsTheFilters) {
    // The filter's own interfaces are reachable from the extension interface...
    Ref<IKsPropertySet> properties;
    EXPECT_EQ(S_OK, config_->QueryInterface(IID_IKsPropertySet, properties.OutVoid()));
    EXPECT_EQ(static_cast<IKsPropertySet*>(filter_), properties.get());
    properties.Reset();

    Ref<IUnknown> identity;
    EXPECT_EQ(S_OK, config_->QueryInterface(IID_IUnknown, identity.OutVoid()));
    EXPECT_EQ(filter_->Unknown(), identity.get());
    identity.Reset();

    // ...and its references count on the filter.
    const LONG before = filter_->References();
    config_->AddRef();
    EXPECT_EQ(before + 1, filter_->References());
    config_->Release();
    EXPECT_EQ(before, filter_->References());

    Ref<IOculixZYNDSConfig> again;
    EXPECT_EQ(S_OK, config_->QueryInterface(IID_IOculixZYNDSConfig, again.OutVoid()));
    EXPECT_EQ(config_, again.get());
}

} // namespace
} // namespace zyn::test
