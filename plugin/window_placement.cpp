#include "plugin/window_placement.h"

namespace zyn {

void PlaceWindowCentred(HWND dialog, HWND centreOn) {
    if (!dialog || !IsWindow(dialog))
        return;
    const bool child = (GetWindowLongW(dialog, GWL_STYLE) & WS_CHILD) != 0;
    if (!centreOn)
        centreOn = child ? GetParent(dialog) : GetWindow(dialog, GW_OWNER);

    RECT window;
    GetWindowRect(dialog, &window);
    const LONG width = window.right - window.left;
    const LONG height = window.bottom - window.top;

    RECT area;
    RECT centring;
    if (child) {
        const HWND parent = GetParent(dialog);
        GetClientRect(parent, &area);
        if (centreOn) {
            GetClientRect(centreOn, &centring);
            MapWindowPoints(centreOn, parent, reinterpret_cast<POINT*>(&centring), 2);
        } else {
            centring = area;
        }
    } else {
        if (centreOn && (!IsWindowVisible(centreOn) || IsIconic(centreOn)))
            centreOn = nullptr;
        const HMONITOR monitor =
            MonitorFromWindow(centreOn ? centreOn : dialog, MONITOR_DEFAULTTONEAREST);
        MONITORINFO info = {};
        info.cbSize = sizeof(info);
        GetMonitorInfoW(monitor, &info);
        area = info.rcWork;
        if (centreOn)
            GetWindowRect(centreOn, &centring);
        else
            centring = area;
    }

    LONG left = (centring.left + centring.right) / 2 - width / 2;
    LONG top = (centring.top + centring.bottom) / 2 - height / 2;
    if (left + width > area.right)
        left = area.right - width;
    if (left < area.left)
        left = area.left;
    if (top + height > area.bottom)
        top = area.bottom - height;
    if (top < area.top)
        top = area.top;
    SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace zyn
