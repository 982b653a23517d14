#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "sim/wdk/sim_wdk.h"
#include "tests/support/verified_test.h"

namespace {

using sim::testing::VerifierCapture;

// A physical device object as the bus creates one.
class RegistryTest : public sim::testing::VerifiedTest {
protected:
    void SetUp() override {
        VerifiedTest::SetUp();
        sim::registry::Clear();
        driver_ = sim::CreateDriverObject(L"bus");
        IoCreateDevice(driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &pdo_);
        pdo_->Flags |= DO_BUS_ENUMERATED_DEVICE;
        sim::registry::BindDriverKey(pdo_, kDriverKey);
    }
    void TearDown() override {
        sim::registry::UnbindDevice(pdo_);
        IoDeleteDevice(pdo_);
        sim::DeleteDriverObject(driver_);
        sim::registry::StopUsingFile();
        VerifiedTest::TearDown();
    }

    // Creates or opens a subkey of `root` as the drivers do.
    NTSTATUS CreateSubkey(HANDLE root, const wchar_t* name, HANDLE* key, ULONG* disposition) {
        UNICODE_STRING path;
        RtlInitUnicodeString(&path, name);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                                   root, nullptr);
        return ZwCreateKey(key, KEY_ALL_ACCESS, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           disposition);
    }
    NTSTATUS Query(HANDLE key, const wchar_t* name, UCHAR* buffer, ULONG length, ULONG* needed) {
        UNICODE_STRING value;
        RtlInitUnicodeString(&value, name);
        return ZwQueryValueKey(key, &value, KeyValuePartialInformation, buffer, length, needed);
    }

    static constexpr char kDriverKey[] = "\\Registry\\Machine\\Test\\Camera\\0000";
    PDRIVER_OBJECT driver_ = nullptr;
    PDEVICE_OBJECT pdo_ = nullptr;
};

TEST_F(RegistryTest, DriverKeySubkeysAndValuesAsTheDriverUsesThem) {
    HANDLE driverKey;
    ASSERT_EQ(IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driverKey),
              STATUS_SUCCESS);
    HANDLE settings;
    ULONG disposition = 0;
    ASSERT_EQ(CreateSubkey(driverKey, L"Settings", &settings, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, static_cast<ULONG>(REG_CREATED_NEW_KEY));

    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"Timeout");
    ULONG timeout = 3000;
    EXPECT_EQ(ZwSetValueKey(settings, &name, 0, REG_DWORD, &timeout, sizeof timeout),
              STATUS_SUCCESS);
    EXPECT_EQ(sim::registry::GetDword(std::string(kDriverKey) + "\\SETTINGS", "timeout"), 3000u);

    UCHAR buffer[20];
    ULONG needed = 0;
    ASSERT_EQ(Query(settings, L"Timeout", buffer, sizeof buffer, &needed), STATUS_SUCCESS);
    auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
    EXPECT_EQ(info->Type, static_cast<ULONG>(REG_DWORD));
    EXPECT_EQ(info->DataLength, 4u);
    EXPECT_EQ(needed, 16u);
    EXPECT_EQ(Query(settings, L"Missing", buffer, sizeof buffer, &needed),
              STATUS_OBJECT_NAME_NOT_FOUND);

    HANDLE again;
    EXPECT_EQ(CreateSubkey(driverKey, L"settings", &again, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, static_cast<ULONG>(REG_OPENED_EXISTING_KEY));
    ZwClose(again);
    // Only one level at a time, as on the platform.
    HANDLE deep;
    EXPECT_EQ(CreateSubkey(driverKey, L"A\\B", &deep, nullptr), STATUS_OBJECT_NAME_NOT_FOUND);
    ASSERT_EQ(CreateSubkey(driverKey, L"A", &deep, nullptr), STATUS_SUCCESS);
    ZwClose(deep);
    ASSERT_EQ(CreateSubkey(driverKey, L"A\\B", &deep, nullptr), STATUS_SUCCESS);
    ZwClose(deep);
    EXPECT_EQ(CreateSubkey(driverKey, L"\\Absolute", &deep, nullptr),
              STATUS_OBJECT_PATH_SYNTAX_BAD);

    // The key goes while a handle to it stays open.
    sim::registry::Clear();
    EXPECT_EQ(Query(settings, L"Timeout", buffer, sizeof buffer, &needed), STATUS_KEY_DELETED);
    EXPECT_EQ(ZwSetValueKey(settings, &name, 0, REG_DWORD, &timeout, sizeof timeout),
              STATUS_KEY_DELETED);
    ZwClose(settings);
    ZwClose(driverKey);
}

TEST_F(RegistryTest, PlantedValuesOfWrongSizeGetThePlatformsStatuses) {
    const std::string settings = std::string(kDriverKey) + "\\Settings";
    sim::registry::SetValue(settings, "Big", REG_BINARY, std::vector<uint8_t>(100, 0xAB));
    sim::registry::SetValue(settings, "Small", REG_SZ, {0x41, 0});
    HANDLE driverKey, key;
    IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driverKey);
    CreateSubkey(driverKey, L"Settings", &key, nullptr);

    UCHAR buffer[20];
    std::memset(buffer, 0xEE, sizeof buffer);
    ULONG needed = 0;
    EXPECT_EQ(Query(key, L"Big", buffer, sizeof buffer, &needed), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, 112u);
    auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
    EXPECT_EQ(info->DataLength, 100u);
    EXPECT_EQ(buffer[19], 0xAB) << "as much data as fits";
    EXPECT_EQ(Query(key, L"Big", buffer, 8, &needed), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(needed, 112u);
    EXPECT_EQ(Query(key, L"Small", buffer, sizeof buffer, &needed), STATUS_SUCCESS);
    EXPECT_EQ(info->Type, static_cast<ULONG>(REG_SZ));
    EXPECT_EQ(info->DataLength, 2u);
    ZwClose(key);
    ZwClose(driverKey);
}

TEST_F(RegistryTest, LeakedKeyHandleIsReportedWithItsPath) {
    HANDLE driverKey;
    IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driverKey);
    {
        VerifierCapture capture;
        sim::objects::ReportLeaksSince(0, "unload");
        EXPECT_TRUE(capture.Saw("registry key \\Registry\\Machine\\Test\\Camera\\0000"));
        EXPECT_TRUE(capture.Saw("registry_test.cpp"));
    }
    ZwClose(driverKey);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    VerifierCapture capture;
    EXPECT_FALSE(NT_SUCCESS(
        IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driverKey)));
    EXPECT_TRUE(capture.Saw("IoOpenDeviceRegistryKey called at DISPATCH_LEVEL"));
    KeLowerIrql(old);
}

TEST_F(RegistryTest, FileStoreKeepsValuesBetweenRunsAndRejectsBadFiles) {
    const std::string file = ::testing::TempDir() + "registry_test.reg";
    std::remove(file.c_str());
    ASSERT_TRUE(sim::registry::UseFile(file));
    HANDLE driverKey, key;
    IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driverKey);
    CreateSubkey(driverKey, L"Settings", &key, nullptr);
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"Exposure");
    ULONG exposure = 1234;
    ZwSetValueKey(key, &name, 0, REG_DWORD, &exposure, 4);
    UCHAR odd[3] = {1, 2, 3};
    RtlInitUnicodeString(&name, L"Odd \"one\"");
    ZwSetValueKey(key, &name, 0, REG_BINARY, odd, 3);
    ZwClose(key);
    ZwClose(driverKey); // the last handle of a changed store writes the file

    std::string text;
    {
        std::ifstream in(file);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_NE(text.find("\"Exposure\"=dword:000004d2"), std::string::npos) << text;
    EXPECT_NE(text.find("hex(3):01,02,03"), std::string::npos) << text;

    sim::registry::Clear();
    ASSERT_TRUE(sim::registry::UseFile(file));
    const std::string settings = std::string(kDriverKey) + "\\Settings";
    EXPECT_EQ(sim::registry::GetDword(settings, "Exposure"), 1234u);
    EXPECT_EQ(sim::registry::GetValue(settings, "odd \"ONE\"")->data.size(), 3u);

    // A later change replaces the file that is already there.
    IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driverKey);
    CreateSubkey(driverKey, L"Settings", &key, nullptr);
    RtlInitUnicodeString(&name, L"Exposure");
    exposure = 4321;
    ZwSetValueKey(key, &name, 0, REG_DWORD, &exposure, 4);
    ZwClose(key);
    ZwClose(driverKey);
    sim::registry::Clear();
    ASSERT_TRUE(sim::registry::UseFile(file));
    EXPECT_EQ(sim::registry::GetDword(settings, "Exposure"), 4321u);

    std::ofstream(file) << "[\\Registry\\X]\n\"v\"=dword:12\n";
    std::string error;
    EXPECT_FALSE(sim::registry::UseFile(file, &error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    std::remove(file.c_str());
}

} // namespace
