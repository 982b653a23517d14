// The plug-in's test program, run under Wine by scripts/test-windows. It loads the OculixZYN.ax
// of its own architecture and drives it through its exports, its COM interfaces and the
// windows of its page and dialog.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "plugin/module.h"
#include "tests/plugin/plugin_module.h"

namespace {

class PluginEnvironment : public testing::Environment {
public:
    void SetUp() override {
        const std::wstring path = zyn::test::PluginPath(zyn::test::kX64);
        ASSERT_FALSE(path.empty()) << "ZYN_PLUGIN_X64 / ZYN_PLUGIN_X86 name no module";
        ASSERT_TRUE(zyn::test::Plugin().Load(path))
            << "cannot load " << std::string(path.begin(), path.end())
            << " or one of its five exports is missing";
    }
    void TearDown() override { zyn::test::Plugin().Unload(); }
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&classes);
    // The colours gain dialog's code and template are built into this program as well.
    zyn::SetModuleInstance(GetModuleHandleW(nullptr));
    testing::AddGlobalTestEnvironment(new PluginEnvironment);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
