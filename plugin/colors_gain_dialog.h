// CDlgColorsGain: the modal "Colors Gain Options" dialog with the four gains of the colour
// filter array (red, green 1, green 2, blue). Every change goes to the driver at once; closing
// neither commits nor reverts anything.
#pragma once

#include <windows.h>

#include "oculix_zyn_config.h"
#include "plugin/dialog_controls.h"

namespace zyn {

class CDlgColorsGain {
public:
    // `config` is borrowed from the page and may be null; `parent` owns the dialog.
    CDlgColorsGain(IOculixZYNDSConfig* config, HWND parent);
    CDlgColorsGain(const CDlgColorsGain&) = delete;
    CDlgColorsGain& operator=(const CDlgColorsGain&) = delete;
    virtual ~CDlgColorsGain() = default;

    // Runs the dialog; returns when it closes, with IDOK or IDCANCEL.
    INT_PTR DoModal();

    struct Channel {
        SliderGroup controls;
        ULONG property;
    };

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void OnOpening();
    // `control`, a channel's trackbar or up-down (its `member` in the group), moved.
    void OnSliderMoved(HWND control, int SliderGroup::*member);
    void OnClosing(int command);
    void OnDefault();
    void CommitEdit(const Channel& channel);
    // Shows `value` in the other green when `channel` is a green and the link is checked, and
    // sends it.
    void FollowLinkedGreen(const Channel& channel, LONG value);

    IOculixZYNDSConfig* const config_;
    const HWND parent_;
    HWND dialog_ = nullptr;
    bool linked_ = true;
    LONG gainMinimum_ = 0;
    LONG gainMaximum_ = 127;
};

} // namespace zyn
