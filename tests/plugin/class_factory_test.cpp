// The class objects of the module and when it may be unloaded.
#include <windows.h>
#include <ocidl.h>
#include <vfwmsgs.h>

#include <gtest/gtest.h>

#include "plugin/class_ids.h"
#include "tests/plugin/fake_filter.h"
#include "tests/plugin/plugin_module.h"

namespace zyn::test {
namespace {

// {F00DF00D-0000-4000-8000-000000000001}: a class the module does not serve.
constexpr CLSID kUnknownClass = {0xF00DF00D, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};

TEST(ClassObjectTest, IsServedOnlyForTheTwoClassesAndTheFactoryInterfaces) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              Plugin().getClassObject(kUnknownClass, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);

    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE,
              Plugin().getClassObject(CLSID_OculixZYNPropertyPage, IID_IPropertyPage, &object));
    EXPECT_EQ(nullptr, object);

    for (const CLSID* clsid : {&CLSID_OculixZYNPropertyPage, &CLSID_OculixZYNExtension}) {
        for (const IID* iid : {&IID_IUnknown, &IID_IClassFactory}) {
            Ref<IUnknown> factory;
            EXPECT_EQ(S_OK, Plugin().getClassObject(*clsid, *iid, factory.OutVoid()));
            EXPECT_TRUE(factory);
        }
    }
}

TEST(ClassObjectTest, AnswersQueryInterfaceForItsTwoInterfacesOnly) {
    Ref<IClassFactory> factory(ClassFactory(CLSID_OculixZYNPropertyPage));
    ASSERT_TRUE(factory);
    EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IUnknown, nullptr));

    Ref<IUnknown> unknown;
    EXPECT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, unknown.OutVoid()));
    EXPECT_EQ(static_cast<IUnknown*>(factory.get()), unknown.get());

    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IPropertyPage, &object));
    EXPECT_EQ(nullptr, object);
}

TEST(ClassObjectTest, CreatesPagesAloneOrAggregatedButExtensionObjectsOnlyAggregated) {
    Ref<IClassFactory> pages(ClassFactory(CLSID_OculixZYNPropertyPage));
    Ref<IClassFactory> extensions(ClassFactory(CLSID_OculixZYNExtension));
    ASSERT_TRUE(pages && extensions);

    EXPECT_EQ(E_POINTER, pages->CreateInstance(nullptr, IID_IPropertyPage, nullptr));

    Ref<IPropertyPage> page;
    EXPECT_EQ(S_OK, pages->CreateInstance(nullptr, IID_IPropertyPage, page.OutVoid()));
    EXPECT_TRUE(page);

    // An aggregated object gives its outer object nothing but its own IUnknown.
    Ref<FakeFilter> filter(FakeFilter::Create(DriverModel::Tern));
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, pages->CreateInstance(filter.get(), IID_IPropertyPage, &object));
    EXPECT_EQ(nullptr, object);
    Ref<IUnknown> inner;
    EXPECT_EQ(S_OK, pages->CreateInstance(filter.get(), IID_IUnknown, inner.OutVoid()));

    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(VFW_E_NEED_OWNER, extensions->CreateInstance(nullptr, IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(VFW_E_NEED_OWNER,
              extensions->CreateInstance(nullptr, IID_IOculixZYNDSConfig, &object));

    // The outer object must offer IKsPropertySet; its refusal is passed on.
    Ref<FakeFilter> other(FakeFilter::Create(DriverModel::Tern, false));
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, extensions->CreateInstance(other.get(), IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(1, other->References());
}

TEST(ClassObjectTest, ModuleStaysLoadedWhileAnObjectOrALockLives) {
    ASSERT_EQ(S_OK, Plugin().canUnloadNow()) << "an earlier test leaked an object";

    IClassFactory* factory = ClassFactory(CLSID_OculixZYNPropertyPage);
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(S_FALSE, Plugin().canUnloadNow()) << "a live class factory";

    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    IPropertyPage* page = nullptr;
    ASSERT_EQ(S_OK,
              factory->CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void**>(&page)));
    factory->Release();
    EXPECT_EQ(S_FALSE, Plugin().canUnloadNow()) << "a lock and a page";

    page->Release();
    EXPECT_EQ(S_FALSE, Plugin().canUnloadNow()) << "a lock";

    factory = ClassFactory(CLSID_OculixZYNExtension);
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_FALSE, Plugin().canUnloadNow()) << "a live class factory";
    factory->Release();
    EXPECT_EQ(S_OK, Plugin().canUnloadNow());
}

TEST(ClassObjectTest, AggregatedExtensionObjectLivesAsLongAsItsFilter) {
    FakeFilter* filter = FakeFilter::Create(DriverModel::Tern);
    ASSERT_EQ(S_OK, filter->AggregateExtension());
    // No reference on the outer object is kept by the inner one.
    EXPECT_EQ(1, filter->References());
    EXPECT_EQ(S_FALSE, Plugin().canUnloadNow());
    filter->Release();
    EXPECT_EQ(S_OK, Plugin().canUnloadNow());
}

} // namespace
} // namespace zyn::test
