// Registration and unregistration through DllRegisterServer and DllUnregisterServer: the class
// keys under HKEY_CLASSES_ROOT and the proxy's entries under HKEY_LOCAL_MACHINE.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/plugin/plugin_module.h"

namespace zyn::test {
namespace {

constexpr wchar_t kPageClassKey[] = L"CLSID\\{408FCBCD-EDF2-4556-A8C7-4186A40170AC}";
constexpr wchar_t kExtensionClassKey[] = L"CLSID\\{3F263C66-0FDA-41D5-9EA8-CF2E342CEFB2}";
constexpr wchar_t kSetKey[] =
    L"System\\CurrentControlSet\\Control\\MediaSets\\{3F263C66-0FDA-41D5-9EA8-CF2E342CEFB2}";
constexpr wchar_t kPagesKey[] =
    L"System\\CurrentControlSet\\Control\\MediaSets\\{3F263C66-0FDA-41D5-9EA8-CF2E342CEFB2}"
    L"\\PropertyPages";
constexpr wchar_t kPageKey[] =
    L"System\\CurrentControlSet\\Control\\MediaSets\\{3F263C66-0FDA-41D5-9EA8-CF2E342CEFB2}"
    L"\\PropertyPages\\{408FCBCD-EDF2-4556-A8C7-4186A40170AC}";
constexpr wchar_t kHandlerKey[] =
    L"System\\CurrentControlSet\\Control\\MediaInterfaces\\{3F263C66-0FDA-41D5-9EA8-CF2E342CEFB2}";

struct Value {
    DWORD type;
    std::vector<BYTE> data;

    std::wstring Text() const {
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
        return text; // with its terminating NUL, when it was written
    }
};

std::optional<Value> ReadValue(HKEY root, const std::wstring& key, const wchar_t* name) {
    HKEY handle;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return std::nullopt;
    Value value{};
    DWORD size = 0;
    LONG error = RegQueryValueExW(handle, name, nullptr, &value.type, nullptr, &size);
    if (error == ERROR_SUCCESS) {
        value.data.resize(size);
        error = RegQueryValueExW(handle, name, nullptr, &value.type, value.data.data(), &size);
    }
    RegCloseKey(handle);
    if (error != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

// A REG_SZ value as written with its terminating NUL.
Value StringValue(const std::wstring& text) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return {REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

bool operator==(const Value& a, const Value& b) {
    return a.type == b.type && a.data == b.data;
}

void PrintTo(const Value& value, std::ostream* out) {
    *out << "type " << value.type << ", " << value.data.size() << " bytes:";
    for (BYTE b : value.data)
        *out << ' ' << std::hex << static_cast<int>(b) << std::dec;
}

bool KeyExists(HKEY root, const std::wstring& key) {
    HKEY handle;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// Every key, value name, type and byte below `key`, one line each.
void Snapshot(HKEY root, const std::wstring& key, std::vector<std::wstring>& lines) {
    HKEY handle;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return;
    lines.push_back(L"[" + key + L"]");
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0, size = 1024;
        BYTE data[1024];
        if (RegEnumValueW(handle, i, name, &nameLength, nullptr, &type, data, &size) !=
            ERROR_SUCCESS)
            break;
        std::wstring line = std::wstring(name, nameLength) + L"=" + std::to_wstring(type) + L":";
        for (DWORD b = 0; b < size; ++b)
            line += std::to_wstring(data[b]) + L",";
        lines.push_back(line);
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(handle, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        children.emplace_back(name, nameLength);
    }
    RegCloseKey(handle);
    for (const std::wstring& child : children)
        Snapshot(root, key + L"\\" + child, lines);
}

std::vector<std::wstring> SnapshotAll() {
    std::vector<std::wstring> lines;
    Snapshot(HKEY_CLASSES_ROOT, kPageClassKey, lines);
    Snapshot(HKEY_CLASSES_ROOT, kExtensionClassKey, lines);
    Snapshot(HKEY_LOCAL_MACHINE, kSetKey, lines);
    Snapshot(HKEY_LOCAL_MACHINE, kHandlerKey, lines);
    return lines;
}

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

class RegistrationTest : public testing::Test {
protected:
    void SetUp() override { RemoveEverything(); }
    void TearDown() override { RemoveEverything(); }

    static void RemoveEverything() {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kPageClassKey);
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kExtensionClassKey);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSetKey);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kHandlerKey);
    }

    static void ExpectNothingRegistered() {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kPageClassKey));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kExtensionClassKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSetKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHandlerKey));
    }
};

TEST_F(RegistrationTest, WritesBothClassesAsInProcessServersOfTheModule) {
    ASSERT_EQ(S_OK, Plugin().registerServer());

    const std::wstring path = ModulePath(Plugin().module);
    const struct {
        const wchar_t* key;
        const wchar_t* name;
    } classes[] = {{kPageClassKey, L"Oculix ZYN Property Page"},
                   {kExtensionClassKey, L"Oculix ZYN DS Extension Interface"}};
    for (const auto& entry : classes) {
        const std::wstring server = std::wstring(entry.key) + L"\\InprocServer32";
        EXPECT_EQ(StringValue(entry.name), ReadValue(HKEY_CLASSES_ROOT, entry.key, L""));
        EXPECT_EQ(StringValue(path), ReadValue(HKEY_CLASSES_ROOT, server, L""));
        EXPECT_EQ(StringValue(L"Both"), ReadValue(HKEY_CLASSES_ROOT, server, L"ThreadingModel"));
    }
}

TEST_F(RegistrationTest, WritesThePageAndTheInterfaceHandlerForTheProxy) {
    ASSERT_EQ(S_OK, Plugin().registerServer());

    EXPECT_EQ(StringValue(L"Oculix ZYN Property Page"),
              ReadValue(HKEY_LOCAL_MACHINE, kPageKey, L""));
    EXPECT_EQ(StringValue(L"Oculix ZYN DS Extension Interface"),
              ReadValue(HKEY_LOCAL_MACHINE, kHandlerKey, L""));
    const Value iid = {REG_BINARY,
                       {0x66, 0x3C, 0x26, 0x3F, 0xDA, 0x0F, 0xD5, 0x41, 0x9E, 0xA8, 0xCF, 0x2E,
                        0x34, 0x2C, 0xEF, 0xB2}};
    EXPECT_EQ(iid, ReadValue(HKEY_LOCAL_MACHINE, kHandlerKey, L"IID"));
}

TEST_F(RegistrationTest, RegisteringTwiceLeavesTheSameEntries) {
    ASSERT_EQ(S_OK, Plugin().registerServer());
    const std::vector<std::wstring> once = SnapshotAll();
    ASSERT_EQ(S_OK, Plugin().registerServer());
    EXPECT_FALSE(once.empty());
    EXPECT_EQ(once, SnapshotAll());
}

TEST_F(RegistrationTest, UnregisteringRemovesEveryEntry) {
    ASSERT_EQ(S_OK, Plugin().registerServer());
    // Keys someone else added below a class key go with it.
    HKEY extra;
    ASSERT_EQ(
        ERROR_SUCCESS,
        RegCreateKeyExW(HKEY_CLASSES_ROOT,
                        (std::wstring(kPageClassKey) + L"\\InprocServer32\\Extra\\Deeper").c_str(),
                        0, nullptr, 0, KEY_WRITE, nullptr, &extra, nullptr));
    RegCloseKey(extra);

    EXPECT_EQ(S_OK, Plugin().unregisterServer());
    ExpectNothingRegistered();
}

TEST_F(RegistrationTest, UnregisteringKeepsAnotherPageOfTheSameSet) {
    ASSERT_EQ(S_OK, Plugin().registerServer());
    const std::wstring otherPage =
        std::wstring(kPagesKey) + L"\\{00000000-1111-2222-3333-444444444444}";
    HKEY other;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, otherPage.c_str(), 0, nullptr, 0,
                                             KEY_WRITE, nullptr, &other, nullptr));
    RegCloseKey(other);

    EXPECT_EQ(S_OK, Plugin().unregisterServer());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPageKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, otherPage));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHandlerKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kPageClassKey));
}

TEST_F(RegistrationTest, UnregisteringWhatWasNeverRegisteredReportsFileNotFound) {
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), Plugin().unregisterServer());
    ExpectNothingRegistered();
}

// A module in a folder whose name the ANSI code page cannot spell registers its exact path.
TEST_F(RegistrationTest, RegistersTheExactPathOfAModuleInAnyFolder) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"zyn-\x0434\x0436-\x03A9";
    const std::wstring copy = folder + L"\\OculixZYN.ax";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(Plugin().path.c_str(), copy.c_str(), FALSE));

    PluginModule moved;
    ASSERT_TRUE(moved.Load(copy));
    EXPECT_EQ(S_OK, moved.registerServer());
    EXPECT_EQ(StringValue(ModulePath(moved.module)),
              ReadValue(HKEY_CLASSES_ROOT, std::wstring(kPageClassKey) + L"\\InprocServer32", L""));
    EXPECT_EQ(S_OK, moved.unregisterServer());
    moved.Unload();

    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());
}

} // namespace
} // namespace zyn::test
