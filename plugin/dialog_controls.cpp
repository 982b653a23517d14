#include "plugin/dialog_controls.h"

#include <commctrl.h>

#include <climits>

namespace zyn {

LONG ReadProperty(IOculixZYNDSConfig* config, ULONG id, LONG fallback) {
    LONG value = fallback;
    if (config)
        config->GetProperty(id, &value);
    return value;
}

LONG EditNumber(HWND dialog, int id) {
    wchar_t text[32];
    const int length = GetDlgItemTextW(dialog, id, text, 32);
    int i = 0;
    while (i < length && text[i] == L' ')
        ++i;
    if (i == length || text[i] < L'0' || text[i] > L'9')
        return 0;
    unsigned long long value = 0;
    for (; i < length && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        if (value <= LONG_MAX)
            value = value * 10 + static_cast<unsigned>(text[i] - L'0');
    }
    while (i < length && text[i] == L' ')
        ++i;
    if (i != length)
        return 0;
    return value > LONG_MAX ? LONG_MAX : static_cast<LONG>(value);
}

void SetEditNumber(HWND dialog, int id, LONG value) {
    SetDlgItemInt(dialog, id, static_cast<UINT>(value), FALSE);
}

void RewriteEdit(HWND dialog, int id, LONG value) {
    wchar_t typed[32];
    wchar_t wanted[32];
    GetDlgItemTextW(dialog, id, typed, 32);
    wsprintfW(wanted, L"%lu", static_cast<unsigned long>(static_cast<ULONG>(value)));
    if (lstrcmpW(typed, wanted) != 0)
        SetEditNumber(dialog, id, value);
}

LONG TrackbarPosition(HWND trackbar) {
    return static_cast<LONG>(SendMessageW(trackbar, TBM_GETPOS, 0, 0));
}

void SetTrackbarPosition(HWND dialog, int id, LONG value) {
    SendDlgItemMessageW(dialog, id, TBM_SETPOS, TRUE, value);
}

LONG UpDownPosition(HWND upDown) {
    return static_cast<LONG>(SendMessageW(upDown, UDM_GETPOS32, 0, 0));
}

void SetUpDownPosition(HWND dialog, int id, LONG value) {
    SendDlgItemMessageW(dialog, id, UDM_SETPOS32, 0, value);
}

void SetUpDownRange(HWND dialog, int id, LONG minimum, LONG maximum) {
    SendDlgItemMessageW(dialog, id, UDM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
}

void SetRange(HWND dialog, const SliderGroup& group, LONG minimum, LONG maximum) {
    // The 32-bit messages: TBM_SETRANGE packs both ends into 16 bits.
    SendDlgItemMessageW(dialog, group.trackbar, TBM_SETRANGEMIN, FALSE, minimum);
    SendDlgItemMessageW(dialog, group.trackbar, TBM_SETRANGEMAX, TRUE, maximum);
    SetUpDownRange(dialog, group.upDown, minimum, maximum);
}

void ShowValue(HWND dialog, const SliderGroup& group, LONG value) {
    SetTrackbarPosition(dialog, group.trackbar, value);
    SetUpDownPosition(dialog, group.upDown, value);
    SetEditNumber(dialog, group.edit, value);
}

void EnableControls(HWND dialog, std::initializer_list<int> ids, bool enable) {
    for (int id : ids)
        EnableWindow(GetDlgItem(dialog, id), enable);
}

bool IsChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void SetChecked(HWND dialog, int id, bool checked) {
    CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool FollowMove(HWND dialog, const SliderGroup& group, HWND control, LONG* position) {
    const bool trackbar = GetDlgCtrlID(control) == group.trackbar;
    *position = trackbar ? TrackbarPosition(control) : UpDownPosition(control);
    if (*position == EditNumber(dialog, group.edit))
        return false;
    SetEditNumber(dialog, group.edit, *position);
    if (trackbar)
        SetUpDownPosition(dialog, group.upDown, *position);
    else
        SetTrackbarPosition(dialog, group.trackbar, *position);
    return true;
}

void ShowCommitted(HWND dialog, const SliderGroup& group, LONG value) {
    RewriteEdit(dialog, group.edit, value);
    SetTrackbarPosition(dialog, group.trackbar, value);
    SetUpDownPosition(dialog, group.upDown, value);
}

} // namespace zyn
