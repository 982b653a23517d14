#include "plugin/colors_gain_dialog.h"

#include <commctrl.h>

#include "plugin/module.h"
#include "plugin/resource_ids.h"
#include "plugin/window_placement.h"

namespace zyn {
namespace {

using Channel = CDlgColorsGain::Channel;

constexpr Channel kRed = {{IDC_CG_RED_SLIDER, IDC_CG_RED_EDIT, IDC_CG_RED_SPIN},
                          CAMPROP_COLOR_GAIN_RED};
constexpr Channel kGreen1 = {{IDC_CG_GREEN1_SLIDER, IDC_CG_GREEN1_EDIT, IDC_CG_GREEN1_SPIN},
                             CAMPROP_COLOR_GAIN_GREEN1};
constexpr Channel kGreen2 = {{IDC_CG_GREEN2_SLIDER, IDC_CG_GREEN2_EDIT, IDC_CG_GREEN2_SPIN},
                             CAMPROP_COLOR_GAIN_GREEN2};
constexpr Channel kBlue = {{IDC_CG_BLUE_SLIDER, IDC_CG_BLUE_EDIT, IDC_CG_BLUE_SPIN},
                           CAMPROP_COLOR_GAIN_BLUE};
constexpr const Channel* kChannels[] = {&kRed, &kGreen1, &kGreen2, &kBlue};

// The value every gain returns to on "Default", and the one shown when the driver is silent.
constexpr LONG kDefaultGain = 63;

const Channel* ChannelWith(int id, int SliderGroup::*control) {
    for (const Channel* channel : kChannels) {
        if (channel->controls.*control == id)
            return channel;
    }
    return nullptr;
}

} // namespace

CDlgColorsGain::CDlgColorsGain(IOculixZYNDSConfig* config, HWND parent)
    : config_(config), parent_(parent) {}

INT_PTR CDlgColorsGain::DoModal() {
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&classes);
    return DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_COLORS_GAIN), parent_, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDlgColorsGain::DialogProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        auto* self = reinterpret_cast<CDlgColorsGain*>(lParam);
        self->dialog_ = window;
        self->OnOpening();
        return TRUE;
    }
    auto* self = reinterpret_cast<CDlgColorsGain*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            self->OnClosing(LOWORD(wParam));
        else if (LOWORD(wParam) == IDC_CG_DEFAULT && HIWORD(wParam) == BN_CLICKED)
            self->OnDefault();
        else
            return FALSE;
        return TRUE;
    case WM_HSCROLL:
        self->OnSliderMoved(reinterpret_cast<HWND>(lParam), &SliderGroup::trackbar);
        return TRUE;
    case WM_VSCROLL:
        self->OnSliderMoved(reinterpret_cast<HWND>(lParam), &SliderGroup::upDown);
        return TRUE;
    default:
        return FALSE;
    }
}

void CDlgColorsGain::OnOpening() {
    gainMinimum_ = ReadProperty(config_, CAMPROP_COLOR_GAIN_MIN, gainMinimum_);
    gainMaximum_ = ReadProperty(config_, CAMPROP_COLOR_GAIN_MAX, gainMaximum_);
    LONG values[4];
    for (int i = 0; i < 4; ++i) {
        values[i] = ReadProperty(config_, kChannels[i]->property, kDefaultGain);
        SetRange(dialog_, kChannels[i]->controls, gainMinimum_, gainMaximum_);
        ShowValue(dialog_, kChannels[i]->controls, values[i]);
    }
    if (values[1] != values[2])
        linked_ = false;
    SetChecked(dialog_, IDC_CG_LINK, linked_);
    PlaceWindowCentred(dialog_, parent_);
}

void CDlgColorsGain::FollowLinkedGreen(const Channel& channel, LONG value) {
    const Channel* other = &channel == &kGreen1   ? &kGreen2
                           : &channel == &kGreen2 ? &kGreen1
                                                  : nullptr;
    // The link is read at each change: it has no handling of its own.
    if (!other || !IsChecked(dialog_, IDC_CG_LINK))
        return;
    ShowValue(dialog_, other->controls, value);
    if (config_)
        config_->SetProperty(other->property, value);
}

void CDlgColorsGain::OnSliderMoved(HWND control, int SliderGroup::*member) {
    const Channel* channel = control ? ChannelWith(GetDlgCtrlID(control), member) : nullptr;
    LONG position = 0;
    if (!config_ || !channel || !FollowMove(dialog_, channel->controls, control, &position))
        return;
    config_->SetProperty(channel->property, position);
    FollowLinkedGreen(*channel, position);
}

void CDlgColorsGain::OnClosing(int command) {
    // Enter in an edit box commits it and moves on; the dialog closes from anywhere else,
    // "Close" included (clicking it takes the focus first).
    if (command == IDOK) {
        const Channel* channel = ChannelWith(GetDlgCtrlID(GetFocus()), &SliderGroup::edit);
        if (channel && GetDlgItem(dialog_, channel->controls.edit) == GetFocus()) {
            CommitEdit(*channel);
            PostMessageW(dialog_, WM_NEXTDLGCTL, 0, FALSE);
            return;
        }
    }
    EndDialog(dialog_, command);
}

void CDlgColorsGain::CommitEdit(const Channel& channel) {
    LONG value = EditNumber(dialog_, channel.controls.edit);
    if (value > gainMaximum_)
        value = gainMaximum_;
    if (value < gainMinimum_)
        value = gainMinimum_;
    ShowCommitted(dialog_, channel.controls, value);
    if (config_)
        config_->SetProperty(channel.property, value);
    FollowLinkedGreen(channel, value);
}

void CDlgColorsGain::OnDefault() {
    if (!config_)
        return;
    for (const Channel* channel : kChannels)
        ShowValue(dialog_, channel->controls, kDefaultGain);
    for (const Channel* channel : kChannels)
        config_->SetProperty(channel->property, kDefaultGain);
}

} // namespace zyn
