// Writes what a window shows into a PNG file, so a person can look at a page after the tests.
#pragma once

#include <windows.h>

#include <string>

namespace zyn::test {

// Captures `window` (frame included) into `path`. Returns the failure, S_OK on success.
HRESULT SaveWindowImage(HWND window, const std::wstring& path);
// Saves `window` as `name`.png in the screenshot folder, where one was given; a picture that
// cannot be saved fails the test.
void Screenshot(HWND window, const wchar_t* name);

} // namespace zyn::test
