// Placing a dialog over the window it belongs to, kept inside the visible area.
#pragma once

#include <windows.h>

namespace zyn {

// Centres `dialog` on `centreOn` (on the dialog's parent or owner when null) without resizing
// or activating it, then pushes it back inside the parent's client area (child dialogs) or the
// work area of the nearest monitor. The top-left edge wins when the dialog does not fit.
void PlaceWindowCentred(HWND dialog, HWND centreOn);

} // namespace zyn
