// The dialog templates and strings of both builds, read from the module files. The 32-bit
// module is read as data, so its resources are checked also where only 64-bit Wine runs.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "plugin/resource_ids.h"
#include "tests/plugin/dialog_template.h"
#include "tests/plugin/plugin_module.h"

namespace zyn::test {
namespace {

// The page's controls that take part in tab order, in template order.
const DWORD kPageTabOrder[] = {
    201, 202, 203, 207, 204, 205, 206, 208, 212, 252, 213, 211, 214, 215, 216, 217, 218,
    221, 222, 223, 225, 226, 227, 228, 229, 230, 231, 232, 233, 234, 235, 236, 237, 219,
    220, 248, 209, 210, 254, 238, 243, 239, 240, 224, 241, 249, 242, 244, 245, 250, 246, 247};

class ModuleResources {
public:
    explicit ModuleResources(const std::wstring& path)
        : module_(path.empty() ? nullptr
                               : LoadLibraryExW(path.c_str(), nullptr,
                                                LOAD_LIBRARY_AS_DATAFILE |
                                                    LOAD_LIBRARY_AS_IMAGE_RESOURCE))
    {
    }
    ~ModuleResources()
    {
        if (module_)
            FreeLibrary(module_);
    }
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

// Window class names compare without regard to case.
bool IsClass(const TemplateControl& control, const wchar_t* windowClass)
{
    return lstrcmpiW(control.windowClass.c_str(), windowClass) == 0;
}

std::vector<DWORD> IdsOfClass(const DialogTemplate& dialog, const wchar_t* windowClass)
{
    std::vector<DWORD> ids;
    for (const TemplateControl& control : dialog.controls) {
        if (IsClass(control, windowClass))
            ids.push_back(control.id);
    }
    return ids;
}

void CheckPage(const DialogTemplate& page, bool x64)
{
    ASSERT_TRUE(page.found);
    EXPECT_EQ(static_cast<DWORD>(WS_CHILD | DS_SETFONT), page.style);
    EXPECT_EQ(427, page.width);
    EXPECT_EQ(279, page.height);
    EXPECT_EQ(L"MS Sans Serif", page.font);
    EXPECT_EQ(8, page.pointSize);
    EXPECT_EQ(x64 ? 71u : 72u, page.controls.size());

    std::vector<DWORD> tabOrder(std::begin(kPageTabOrder), std::end(kPageTabOrder));
    if (!x64)
        tabOrder.push_back(IDC_MORE);
    std::vector<DWORD> ids;
    for (const TemplateControl& control : page.controls) {
        if (control.id != static_cast<DWORD>(-1))
            ids.push_back(control.id);
    }
    EXPECT_EQ(tabOrder, ids);

    if (!x64) {
        const TemplateControl* more = page.Control(IDC_MORE);
        ASSERT_NE(nullptr, more);
        EXPECT_EQ(L"More...", more->text);
        EXPECT_EQ((RECT{149, 52, 39, 14}).left, more->rect.left);
        EXPECT_EQ(52, more->rect.top);
        EXPECT_EQ(39, more->rect.right);
        EXPECT_EQ(14, more->rect.bottom);
    }
    for (DWORD id : {IDC_AUTO_EXPOSURE, IDC_AUTO_GAIN, IDC_FULL_WIDTH, IDC_FULL_HEIGHT})
        EXPECT_TRUE(page.Control(id)->style & WS_DISABLED) << id << " starts disabled";
    EXPECT_EQ(9u, IdsOfClass(page, L"msctls_trackbar32").size());
    EXPECT_EQ(13u, IdsOfClass(page, L"msctls_updown32").size());
}

void CheckControlStyles(const DialogTemplate& dialog)
{
    for (const TemplateControl& control : dialog.controls) {
        SCOPED_TRACE(control.id);
        if (IsClass(control, L"msctls_trackbar32")) {
            EXPECT_TRUE(control.style & TBS_NOTICKS);
        } else if (IsClass(control, L"msctls_updown32")) {
            EXPECT_EQ(static_cast<DWORD>(UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_AUTOBUDDY),
                      control.style & (UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_AUTOBUDDY));
            EXPECT_FALSE(control.style & UDS_SETBUDDYINT) << "the code writes the buddy";
        } else if (IsClass(control, L"ComboBox")) {
            EXPECT_EQ(static_cast<DWORD>(CBS_DROPDOWNLIST), control.style & 3u);
            EXPECT_FALSE(control.style & CBS_SORT);
        }
    }
}

TEST(ResourcesTest, SixtyFourBitPageHasNoMoreButton)
{
    ModuleResources module(PluginPath(true));
    if (!module.get())
        GTEST_SKIP() << "ZYN_PLUGIN_X64 names no module";
    const DialogTemplate page = ReadDialogTemplate(module.get(), IDD_PROPERTY_PAGE);
    CheckPage(page, true);
    CheckControlStyles(page);
    EXPECT_EQ(L"Oculix ZYN KS Page", ReadString(module.get(), IDS_PAGE_TITLE));
}

TEST(ResourcesTest, ThirtyTwoBitPageHasTheMoreButtonAndTheDialog)
{
    ModuleResources module(PluginPath(false));
    if (!module.get())
        GTEST_SKIP() << "ZYN_PLUGIN_X86 names no module";
    const DialogTemplate page = ReadDialogTemplate(module.get(), IDD_PROPERTY_PAGE);
    CheckPage(page, false);
    CheckControlStyles(page);
    EXPECT_EQ(L"Oculix ZYN KS Page", ReadString(module.get(), IDS_PAGE_TITLE));

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
    CheckControlStyles(dialog);
}

}  // namespace
}  // namespace zyn::test
