// The dialog templates and strings of both builds, read from the module files. The 32-bit
// module is read as data, so its resources are checked also where only 64-bit Wine runs.
#include <windows.h>

#include <gtest/gtest.h>

#include "plugin/resource_ids.h"
#include "tests/plugin/dialog_template.h"
#include "tests/plugin/plugin_module.h"

namespace zyn::test {
namespace {

class ModuleResources {
public:
    explicit ModuleResources(const std::wstring& path)
        : module_(path.empty()
                      ? nullptr
                      : LoadLibraryExW(path.c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {
    }
    ~ModuleResources() {
        if (module_)
            FreeLibrary(module_);
    }
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

// The property page's title and template in the module of one build.
void CheckPage(HMODULE module, bool x64) {
    EXPECT_EQ(L"Oculix ZYN KS Page", ReadString(module, IDS_PAGE_TITLE));
    const DialogTemplate page = ReadDialogTemplate(module, IDD_PROPERTY_PAGE);
    ASSERT_TRUE(page.found);
    EXPECT_EQ(static_cast<DWORD>(WS_CHILD | DS_SETFONT), page.style);
    EXPECT_EQ(427, page.width);
    EXPECT_EQ(279, page.height);
    EXPECT_EQ(L"MS Sans Serif", page.font);
    EXPECT_EQ(8, page.pointSize);
    EXPECT_EQ(x64 ? 71u : 72u, page.controls.size());

    if (!x64) {
        const TemplateControl* more = page.Control(IDC_MORE);
        ASSERT_NE(nullptr, more);
        EXPECT_EQ(L"More...", more->text);
        EXPECT_EQ(149, more->rect.left);
        EXPECT_EQ(52, more->rect.top);
        EXPECT_EQ(39, more->rect.right);
        EXPECT_EQ(14, more->rect.bottom);
    }
}

TEST(ResourcesTest, SixtyFourBitPageHasNoMoreButton) {
    ModuleResources module(PluginPath(true));
    if (!module.get())
        GTEST_SKIP() << "ZYN_PLUGIN_X64 names no module";
    CheckPage(module.get(), true);
}

TEST(ResourcesTest, ThirtyTwoBitPageHasTheMoreButtonAndTheDialog) {
    ModuleResources module(PluginPath(false));
    if (!module.get())
        GTEST_SKIP() << "ZYN_PLUGIN_X86 names no module";
    CheckPage(module.get(), false);

    const DialogTemplate dialog = ReadDialogTemplate(module.get(), IDD_COLORS_GAIN);
    ASSERT_TRUE(dialog.found);
    EXPECT_EQ(L"Colors Gain Options", dialog.caption);
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              dialog.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_CHILD));
    EXPECT_EQ(249, dialog.width);
    EXPECT_EQ(127, dialog.height);
    EXPECT_EQ(L"MS Shell Dlg", dialog.font);
    ASSERT_EQ(19u, dialog.controls.size());
    const TemplateControl& close = dialog.controls.back();
    EXPECT_EQ(static_cast<DWORD>(IDOK), close.id);
    EXPECT_EQ(L"Close", close.text);
    EXPECT_EQ(static_cast<DWORD>(BS_DEFPUSHBUTTON), close.style & 0xF);
}

} // namespace
} // namespace zyn::test
