// Reads a dialog template (DLGTEMPLATEEX) out of a module's resources.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zyn::test {

struct TemplateControl {
    DWORD id;
    std::wstring windowClass; // "Button", "Edit", "Static", "ComboBox" or the class name
    std::wstring text;
    DWORD style;
    RECT rect; // x, y, width, height in dialog units, kept in left, top, right, bottom
};

struct DialogTemplate {
    bool found = false;
    DWORD style = 0;
    short width = 0, height = 0;
    std::wstring caption;
    WORD pointSize = 0;
    std::wstring font;
    std::vector<TemplateControl> controls;

    const TemplateControl* Control(DWORD id) const;
};

DialogTemplate ReadDialogTemplate(HMODULE module, int id);

// String `id` of the module's string table.
std::wstring ReadString(HMODULE module, int id);

} // namespace zyn::test
