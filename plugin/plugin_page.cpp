#include "plugin/plugin_page.h"

#include <commctrl.h>

#include <cstdint>
#include <new>

#include "plugin/build_variant.h"
#include "plugin/class_ids.h"
#include "plugin/colors_gain_dialog.h"
#include "plugin/resource_ids.h"

namespace zyn {
namespace {

using Slider = COculixDSProxyPluginPage::Slider;

constexpr Slider kExposure = {{IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, IDC_EXPOSURE_SPIN},
                              CAMPROP_EXPOSURE,
                              CAMPROP_EXPOSURE_MIN,
                              CAMPROP_EXPOSURE_MAX,
                              0,
                              1000,
                              200,
                              0,
                              1000};
constexpr Slider kGain = {{IDC_GAIN_SLIDER, IDC_GAIN_EDIT, IDC_GAIN_SPIN},
                          CAMPROP_GAIN,
                          CAMPROP_GAIN_MIN,
                          CAMPROP_GAIN_MAX,
                          0,
                          1000,
                          200,
                          0,
                          1000};
constexpr Slider kRed = {{IDC_RED_SLIDER, IDC_RED_EDIT, IDC_RED_SPIN},
                         CAMPROP_RED_GAIN,
                         CAMPROP_RGB_GAIN_MIN,
                         CAMPROP_RGB_GAIN_MAX,
                         1,
                         300,
                         128,
                         1,
                         500};
constexpr Slider kGreen = {{IDC_GREEN_SLIDER, IDC_GREEN_EDIT, IDC_GREEN_SPIN},
                           CAMPROP_GREEN_GAIN,
                           CAMPROP_RGB_GAIN_MIN,
                           CAMPROP_RGB_GAIN_MAX,
                           1,
                           300,
                           128,
                           1,
                           500};
constexpr Slider kBlue = {{IDC_BLUE_SLIDER, IDC_BLUE_EDIT, IDC_BLUE_SPIN},
                          CAMPROP_BLUE_GAIN,
                          CAMPROP_RGB_GAIN_MIN,
                          CAMPROP_RGB_GAIN_MAX,
                          1,
                          300,
                          128,
                          1,
                          500};
constexpr Slider kBrightness = {{IDC_BRIGHTNESS_SLIDER, IDC_BRIGHTNESS_EDIT, IDC_BRIGHTNESS_SPIN},
                                CAMPROP_BRIGHTNESS,
                                CAMPROP_BRIGHTNESS_MIN,
                                CAMPROP_BRIGHTNESS_MAX,
                                0,
                                510,
                                255,
                                1,
                                510};
constexpr Slider kContrast = {{IDC_CONTRAST_SLIDER, IDC_CONTRAST_EDIT, IDC_CONTRAST_SPIN},
                              CAMPROP_CONTRAST,
                              CAMPROP_CONTRAST_MIN,
                              CAMPROP_CONTRAST_MAX,
                              0,
                              20,
                              10,
                              1,
                              20};
constexpr Slider kSaturation = {{IDC_SATURATION_SLIDER, IDC_SATURATION_EDIT, IDC_SATURATION_SPIN},
                                CAMPROP_SATURATION,
                                CAMPROP_SATURATION_MIN,
                                CAMPROP_SATURATION_MAX,
                                0,
                                20,
                                10,
                                1,
                                20};
constexpr Slider kHue = {{IDC_HUE_SLIDER, IDC_HUE_EDIT, IDC_HUE_SPIN},
                         CAMPROP_HUE,
                         CAMPROP_HUE_MIN,
                         CAMPROP_HUE_MAX,
                         0,
                         359,
                         0,
                         0,
                         359};

constexpr const Slider* kSliders[] = {&kExposure,   &kGain,     &kRed,        &kGreen, &kBlue,
                                      &kBrightness, &kContrast, &kSaturation, &kHue};

const Slider* SliderWith(int id, int SliderGroup::*control) {
    for (const Slider* slider : kSliders) {
        if (slider->controls.*control == id)
            return slider;
    }
    return nullptr;
}

// The region's edit boxes, their up-downs and the driver's values, in the order x, y, width,
// height.
struct RegionField {
    int edit;
    int upDown;
    ULONG property;
};
constexpr RegionField kRegionFields[] = {
    {IDC_ROI_X, IDC_ROI_X_SPIN, CAMPROP_ROI_X},
    {IDC_ROI_Y, IDC_ROI_Y_SPIN, CAMPROP_ROI_Y},
    {IDC_ROI_W, IDC_ROI_W_SPIN, CAMPROP_ROI_WIDTH},
    {IDC_ROI_H, IDC_ROI_H_SPIN, CAMPROP_ROI_HEIGHT},
};

constexpr std::initializer_list<int> kRegionInputs = {
    IDC_ROI_X,      IDC_ROI_Y,      IDC_ROI_W,      IDC_ROI_H,
    IDC_ROI_X_SPIN, IDC_ROI_Y_SPIN, IDC_ROI_W_SPIN, IDC_ROI_H_SPIN};

constexpr std::initializer_list<int> kColorGainControls = {
    IDC_RED_SLIDER, IDC_RED_EDIT,    IDC_RED_SPIN,  IDC_GREEN_SLIDER, IDC_GREEN_EDIT,
    IDC_GREEN_SPIN, IDC_BLUE_SLIDER, IDC_BLUE_EDIT, IDC_BLUE_SPIN};

// The colour settings that "Default" restores, and the property of each one's default.
struct ColorDefault {
    const Slider* slider;
    ULONG property;
};
constexpr ColorDefault kColorDefaults[] = {
    {&kBrightness, CAMPROP_BRIGHTNESS_DEFAULT},
    {&kContrast, CAMPROP_CONTRAST_DEFAULT},
    {&kSaturation, CAMPROP_SATURATION_DEFAULT},
    {&kHue, CAMPROP_HUE_DEFAULT},
};

// Check boxes that do nothing but switch their property.
struct Switch {
    int check;
    ULONG property;
};
constexpr Switch kSwitches[] = {
    {IDC_FLIP_H, CAMPROP_FLIP_H},
    {IDC_FLIP_V, CAMPROP_FLIP_V},
    {IDC_COLOR_ENABLE, CAMPROP_COLOR_ENABLE},
    {IDC_EXTRIGGER, CAMPROP_EXTRIGGER},
    {IDC_COLOR_CORRECTION, CAMPROP_COLOR_CORRECTION},
};

constexpr const wchar_t* kClockNames[] = {L"24 MHZ", L"12 MHZ", L"48 MHZ",
                                          L"40 MHZ", L"20 MHZ", L"10 MHZ"};
constexpr const wchar_t* kSubSampleNames[] = {L"Keep origin", L"Skip 2X", L"Skip 4X", L"Skip 8X"};

// The smallest region the camera is asked for, in each direction.
constexpr int64_t kMinimumRegionSize = 32;

void AddComboEntries(HWND dialog, int id, const wchar_t* const* names, int count) {
    for (int i = 0; i < count; ++i)
        SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(names[i]));
}

LONG ComboSelection(HWND dialog, int id) {
    return static_cast<LONG>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
}

} // namespace

COculixDSProxyPluginPage::COculixDSProxyPluginPage(IUnknown* outer)
    : CBasePropertyPage(kPropertyPageName, outer, IDD_PROPERTY_PAGE, IDS_PAGE_TITLE) {}

COculixDSProxyPluginPage::~COculixDSProxyPluginPage() {
    if (config_)
        config_->Release();
}

CUnknown* COculixDSProxyPluginPage::CreateInstance(IUnknown* outer, HRESULT* result) {
    auto* page = new (std::nothrow) COculixDSProxyPluginPage(outer);
    *result = page ? S_OK : E_OUTOFMEMORY;
    return page;
}

HRESULT COculixDSProxyPluginPage::OnConnect(IUnknown* object) {
    if (config_)
        return S_OK;
    const HRESULT result =
        object->QueryInterface(IID_IOculixZYNDSConfig, reinterpret_cast<void**>(&config_));
    if (FAILED(result))
        config_ = nullptr;
    return result;
}

HRESULT COculixDSProxyPluginPage::OnDisconnect() {
    if (config_) {
        config_->Release();
        config_ = nullptr;
    }
    return S_OK;
}

HRESULT COculixDSProxyPluginPage::OnActivate() {
    Fill();
    active_ = true;
    return S_OK;
}

HRESULT COculixDSProxyPluginPage::OnDeactivate() {
    active_ = false;
    return S_OK;
}

HRESULT COculixDSProxyPluginPage::OnApplyChanges() {
    // Every change already went to the driver as the user made it.
    SetDirty(false);
    if (PageSite())
        PageSite()->OnStatusChange(PROPPAGESTATUS_VALIDATE);
    return S_OK;
}

void COculixDSProxyPluginPage::MarkDirty() {
    SetDirty(true);
    if (PageSite())
        PageSite()->OnStatusChange(PROPPAGESTATUS_DIRTY);
}

// Filling, in the order the driver is asked.

void COculixDSProxyPluginPage::FillSlider(const Slider& slider, bool capMaximum) {
    const LONG minimum = Read(slider.minimum, slider.fillMinimum);
    LONG maximum = Read(slider.maximum, slider.fillMaximum);
    if (capMaximum && kTrackbarMaximumCap != 0 && maximum > kTrackbarMaximumCap)
        maximum = kTrackbarMaximumCap;
    const LONG value = Read(slider.value, slider.fillValue);
    SetRange(Dialog(), slider.controls, minimum, maximum);
    ShowValue(Dialog(), slider.controls, value);
}

void COculixDSProxyPluginPage::Fill() {
    const HWND dialog = Dialog();

    FillSlider(kExposure, true);
    FillSlider(kGain, true);

    const LONG clockSelectable = Read(CAMPROP_CLOCK_SELECTABLE, 0);
    const LONG mirrorAvailable = Read(CAMPROP_FLIP_H_AVAILABLE, 0);
    const LONG flipAvailable = Read(CAMPROP_FLIP_V_AVAILABLE, 0);
    const LONG clock = Read(CAMPROP_CLOCK, 0);
    if (clockSelectable) {
        AddComboEntries(dialog, IDC_CLOCK, kClockNames, 6);
        SendDlgItemMessageW(dialog, IDC_CLOCK, CB_SETCURSEL, static_cast<WPARAM>(clock), 0);
    }
    EnableControls(dialog, {IDC_CLOCK}, clockSelectable != 0);
    ShowWindow(GetDlgItem(dialog, IDC_FLIP_H), mirrorAvailable ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(dialog, IDC_FLIP_V), flipAvailable ? SW_SHOW : SW_HIDE);

    const LONG trigger = Read(CAMPROP_EXTRIGGER, 0);
    const LONG timeout = Read(CAMPROP_TIMEOUT, 3000);
    const LONG mirror = Read(CAMPROP_FLIP_H, 0);
    const LONG flip = Read(CAMPROP_FLIP_V, 1);
    const LONG colorEnable = Read(CAMPROP_COLOR_ENABLE, 1);
    const LONG whiteBalance = Read(CAMPROP_WHITE_BALANCE, 0);
    const LONG colorCorrection = Read(CAMPROP_COLOR_CORRECTION, 1);
    SetChecked(dialog, IDC_EXTRIGGER, trigger != 0);
    SetChecked(dialog, IDC_FLIP_H, mirror != 0);
    SetChecked(dialog, IDC_FLIP_V, flip != 0);
    SetChecked(dialog, IDC_COLOR_ENABLE, colorEnable != 0);
    SetChecked(dialog, IDC_WHITE_BALANCE, whiteBalance != 0);
    SetChecked(dialog, IDC_COLOR_CORRECTION, colorCorrection != 0);
    SetEditNumber(dialog, IDC_TIMEOUT_EDIT, timeout);

    const LONG gainMinimum = Read(CAMPROP_RGB_GAIN_MIN, kRed.fillMinimum);
    const LONG gainMaximum = Read(CAMPROP_RGB_GAIN_MAX, kRed.fillMaximum);
    for (const Slider* slider : {&kRed, &kGreen, &kBlue}) {
        const LONG value = Read(slider->value, slider->fillValue);
        SetRange(dialog, slider->controls, gainMinimum, gainMaximum);
        ShowValue(dialog, slider->controls, value);
    }

    FillSlider(kBrightness, false);
    FillSlider(kSaturation, false);
    FillSlider(kContrast, false);
    FillSlider(kHue, false);

    FillRegion();

    if (Read(CAMPROP_REGION_LOCKED, 0)) {
        EnableControls(dialog, kRegionInputs, false);
        EnableControls(dialog, {IDC_SUBSAMPLE, IDC_REGION_DEFAULT, IDC_REGION_SET}, false);
    }

    EnableControls(dialog, kColorGainControls, whiteBalance == 0);

    EnableControls(dialog, {IDC_EXTRIGGER}, Read(CAMPROP_EXTRIGGER_AVAILABLE, 0) == 1);

    const LONG agcAvailable = Read(CAMPROP_AGC_AVAILABLE, 0);
    const LONG aecAvailable = Read(CAMPROP_AEC_AVAILABLE, 0);
    const LONG agc = Read(CAMPROP_AGC, 0);
    const LONG aec = Read(CAMPROP_AEC, 0);
    EnableControls(dialog, {IDC_AUTO_EXPOSURE}, aecAvailable != 0);
    EnableControls(dialog, {IDC_AUTO_GAIN}, agcAvailable != 0);
    EnableControls(dialog, {IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT}, aec == 0);
    if (aec)
        SetChecked(dialog, IDC_AUTO_EXPOSURE, true);
    EnableControls(dialog, {IDC_GAIN_SLIDER, IDC_GAIN_EDIT}, agc == 0);
    if (agc)
        SetChecked(dialog, IDC_AUTO_GAIN, true);

    if constexpr (kHasColorsGainDialog)
        EnableControls(dialog, {IDC_MORE}, Read(CAMPROP_COLOR_GAIN_DIALOG, 0) != 0);
}

void COculixDSProxyPluginPage::FillRegion() {
    const HWND dialog = Dialog();
    const LONG steps = Read(CAMPROP_SUBSAMPLE_STEPS, 0);
    const LONG subSample = Read(CAMPROP_SUBSAMPLE, 0);
    const LONG fullWidth = Read(CAMPROP_SENSOR_WIDTH, 0);
    const LONG fullHeight = Read(CAMPROP_SENSOR_HEIGHT, 0);
    LONG region[4];
    for (int i = 0; i < 4; ++i)
        region[i] = Read(kRegionFields[i].property, 0);

    SetEditNumber(dialog, IDC_FULL_WIDTH, fullWidth);
    SetEditNumber(dialog, IDC_FULL_HEIGHT, fullHeight);

    // Only a camera that sub-samples reports a region origin worth showing; a sub-sampled
    // image always covers the full sensor.
    const bool originShown = steps > 0 && subSample <= 0;
    const LONG shown[4] = {
        originShown ? region[0] : 0,
        originShown ? region[1] : 0,
        region[2] > 0 && subSample <= 0 ? region[2] : fullWidth,
        region[3] > 0 && subSample <= 0 ? region[3] : fullHeight,
    };
    SetUpDownRange(dialog, IDC_ROI_X_SPIN, 0, fullWidth);
    SetUpDownRange(dialog, IDC_ROI_Y_SPIN, 0, fullHeight);
    SetUpDownRange(dialog, IDC_ROI_W_SPIN, 32, fullWidth);
    SetUpDownRange(dialog, IDC_ROI_H_SPIN, 8, fullHeight);
    for (int i = 0; i < 4; ++i) {
        SetUpDownPosition(dialog, kRegionFields[i].upDown, shown[i]);
        SetEditNumber(dialog, kRegionFields[i].edit, shown[i]);
    }
    EnableControls(dialog, {IDC_ROI_X_SPIN, IDC_ROI_Y_SPIN, IDC_ROI_W_SPIN, IDC_ROI_H_SPIN}, true);

    if (steps > 0) {
        EnableControls(dialog, {IDC_SUBSAMPLE}, true);
        AddComboEntries(dialog, IDC_SUBSAMPLE, kSubSampleNames, (steps < 3 ? steps : 3) + 1);
        SendDlgItemMessageW(dialog, IDC_SUBSAMPLE, CB_SETCURSEL, static_cast<WPARAM>(subSample), 0);
        if (subSample > 0)
            EnableControls(dialog, kRegionInputs, false);
    } else {
        EnableControls(dialog, {IDC_SUBSAMPLE}, false);
    }
}

// User actions.

INT_PTR COculixDSProxyPluginPage::OnReceiveMessage(HWND window, UINT message, WPARAM wParam,
                                                   LPARAM lParam) {
    if (active_ && config_) {
        switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            break;
        case WM_HSCROLL:
            OnTrackbarMoved(reinterpret_cast<HWND>(lParam));
            break;
        case WM_VSCROLL:
            OnUpDownMoved(reinterpret_cast<HWND>(lParam));
            break;
        }
    }
    return CBasePropertyPage::OnReceiveMessage(window, message, wParam, lParam);
}

void COculixDSProxyPluginPage::SetAutoMode(int check, ULONG property, const Slider& slider) {
    const HWND dialog = Dialog();
    const bool automatic = IsChecked(dialog, check);
    Send(property, automatic);
    if (!automatic)
        ShowValue(dialog, slider.controls, Read(slider.value, 0));
    EnableControls(dialog, {slider.controls.trackbar, slider.controls.edit}, !automatic);
}

void COculixDSProxyPluginPage::OnCommand(int id, int code) {
    const HWND dialog = Dialog();
    if (code == BN_CLICKED) {
        switch (id) {
        case IDC_AUTO_EXPOSURE:
            SetAutoMode(id, CAMPROP_AEC, kExposure);
            break;
        case IDC_AUTO_GAIN:
            SetAutoMode(id, CAMPROP_AGC, kGain);
            break;
        case IDC_WHITE_BALANCE: {
            const bool automatic = IsChecked(dialog, id);
            Send(CAMPROP_WHITE_BALANCE, automatic);
            if (!automatic) {
                // The gains the automatic balance found become the manual ones.
                for (const Slider* slider : {&kRed, &kGreen, &kBlue})
                    ShowValue(dialog, slider->controls, Read(slider->value, 128));
            }
            EnableControls(dialog, kColorGainControls, !automatic);
            break;
        }
        case IDC_COLOR_DEFAULT: {
            // All defaults are read before anything is shown or sent.
            LONG values[4];
            for (int i = 0; i < 4; ++i)
                values[i] = Read(kColorDefaults[i].property, kColorDefaults[i].slider->fillValue);
            for (int i = 0; i < 4; ++i)
                ShowValue(dialog, kColorDefaults[i].slider->controls, values[i]);
            for (int i = 0; i < 4; ++i)
                Send(kColorDefaults[i].slider->value, values[i]);
            break;
        }
        case IDC_REGION_SET:
            SetRegionFromEdits();
            break;
        case IDC_REGION_DEFAULT:
            ResetRegion();
            break;
        case IDC_TIMEOUT_SET: {
            const LONG timeout = EditNumber(dialog, IDC_TIMEOUT_EDIT);
            if (timeout > 500 && timeout < 10000)
                Send(CAMPROP_TIMEOUT, timeout);
            break;
        }
        case IDC_MORE:
            if constexpr (kHasColorsGainDialog) {
                CDlgColorsGain colorsGain(config_, dialog);
                colorsGain.DoModal();
            }
            break;
        default:
            for (const Switch& entry : kSwitches) {
                if (entry.check == id)
                    Send(entry.property, IsChecked(dialog, id));
            }
            break;
        }
    }

    switch (id) {
    case IDC_TIMEOUT_EDIT:
        if (code == EN_CHANGE)
            MarkDirty();
        break;
    case IDC_SUBSAMPLE:
        // A sub-sampled image covers the full sensor: no region to edit.
        if (code == CBN_SELCHANGE)
            EnableControls(dialog, kRegionInputs, ComboSelection(dialog, id) < 1);
        break;
    case IDC_ROI_X:
    case IDC_ROI_Y:
    case IDC_ROI_W:
    case IDC_ROI_H:
        if (code == EN_CHANGE)
            OnRegionEditChanged(id);
        break;
    case IDC_CLOCK:
        if (code == CBN_SELCHANGE)
            Send(CAMPROP_CLOCK, ComboSelection(dialog, id));
        break;
    }
}

void COculixDSProxyPluginPage::OnRegionEditChanged(int id) {
    const HWND dialog = Dialog();
    const LONG fullWidth = Read(CAMPROP_SENSOR_WIDTH, 0);
    const LONG fullHeight = Read(CAMPROP_SENSOR_HEIGHT, 0);
    const LONG value = EditNumber(dialog, id);
    bool inRange = false;
    int upDown = 0;
    switch (id) {
    case IDC_ROI_X:
        inRange = value < fullWidth;
        upDown = IDC_ROI_X_SPIN;
        break;
    case IDC_ROI_Y:
        inRange = value < fullHeight;
        upDown = IDC_ROI_Y_SPIN;
        break;
    case IDC_ROI_W:
        inRange = value <= fullWidth;
        upDown = IDC_ROI_W_SPIN;
        break;
    case IDC_ROI_H:
        inRange = value <= fullHeight;
        upDown = IDC_ROI_H_SPIN;
        break;
    }
    if (value >= 0 && inRange) {
        SetUpDownPosition(dialog, upDown, value);
        MarkDirty();
    }
}

void COculixDSProxyPluginPage::OnTrackbarMoved(HWND trackbar) {
    const Slider* slider =
        trackbar ? SliderWith(GetDlgCtrlID(trackbar), &SliderGroup::trackbar) : nullptr;
    LONG position = 0;
    if (slider && FollowMove(Dialog(), slider->controls, trackbar, &position))
        Send(slider->value, position);
}

void COculixDSProxyPluginPage::OnUpDownMoved(HWND upDown) {
    if (!upDown)
        return;
    const HWND dialog = Dialog();
    const int id = GetDlgCtrlID(upDown);
    LONG position = 0;
    if (const Slider* slider = SliderWith(id, &SliderGroup::upDown)) {
        if (FollowMove(dialog, slider->controls, upDown, &position))
            Send(slider->value, position);
        return;
    }
    // A region up-down only edits its box; the region goes out on Set.
    position = UpDownPosition(upDown);
    for (const RegionField& field : kRegionFields) {
        if (field.upDown == id && position != EditNumber(dialog, field.edit))
            SetEditNumber(dialog, field.edit, position);
    }
}

HRESULT STDMETHODCALLTYPE COculixDSProxyPluginPage::TranslateAccelerator(MSG* message) {
    if (!message)
        return E_POINTER;
    const HWND dialog = Dialog();
    const HWND focus = GetFocus();
    if (!config_ || !dialog || !focus || message->message < WM_KEYDOWN ||
        message->message > WM_KEYLAST || message->wParam != VK_RETURN)
        return E_NOTIMPL;
    const Slider* slider = SliderWith(GetDlgCtrlID(focus), &SliderGroup::edit);
    if (!slider || GetDlgItem(dialog, slider->controls.edit) != focus)
        return E_NOTIMPL;
    // One key press is one commit: the key-up and character messages of the same Enter are
    // taken from the frame too but change nothing.
    if (message->message == WM_KEYDOWN)
        CommitEdit(*slider);
    return S_OK;
}

void COculixDSProxyPluginPage::CommitEdit(const Slider& slider) {
    const HWND dialog = Dialog();
    const int edit = slider.controls.edit;
    LONG value = EditNumber(dialog, edit);
    const LONG minimum = Read(slider.minimum, slider.enterMinimum);
    const LONG maximum = Read(slider.maximum, slider.enterMaximum);
    if (value < minimum)
        value = minimum;
    if (value > maximum)
        value = maximum;
    ShowCommitted(dialog, slider.controls, value);
    Send(slider.value, value);
    SetFocus(GetDlgItem(dialog, edit));
    MarkDirty();
}

void COculixDSProxyPluginPage::SetRegionFromEdits() {
    const HWND dialog = Dialog();
    // 64-bit arithmetic: the boxes hold whatever the user typed.
    const int64_t fullWidth = EditNumber(dialog, IDC_FULL_WIDTH);
    const int64_t fullHeight = EditNumber(dialog, IDC_FULL_HEIGHT);
    LONG subSample = ComboSelection(dialog, IDC_SUBSAMPLE);
    if (subSample < 0 || subSample > 4)
        subSample = 0;
    int64_t x = EditNumber(dialog, IDC_ROI_X);
    int64_t y = EditNumber(dialog, IDC_ROI_Y);
    int64_t width = EditNumber(dialog, IDC_ROI_W);
    int64_t height = EditNumber(dialog, IDC_ROI_H);

    // An origin that leaves no room for the smallest region starts over at the corner.
    if (x >= fullWidth - kMinimumRegionSize || x < 0)
        x = 0;
    if (y >= fullHeight - kMinimumRegionSize || y < 0)
        y = 0;
    if (width < kMinimumRegionSize)
        width = kMinimumRegionSize;
    if (height < kMinimumRegionSize)
        height = kMinimumRegionSize;
    if (x + width > fullWidth)
        width = fullWidth - x;
    if (y + height > fullHeight)
        height = fullHeight - y;
    config_->SetRegion(subSample, static_cast<LONG>(x), static_cast<LONG>(y),
                       static_cast<LONG>(width), static_cast<LONG>(height));
}

void COculixDSProxyPluginPage::ResetRegion() {
    const HWND dialog = Dialog();
    const LONG fullWidth = EditNumber(dialog, IDC_FULL_WIDTH);
    const LONG fullHeight = EditNumber(dialog, IDC_FULL_HEIGHT);
    const LONG full[4] = {0, 0, fullWidth, fullHeight};
    for (int i = 0; i < 4; ++i) {
        SetEditNumber(dialog, kRegionFields[i].edit, full[i]);
        SetUpDownPosition(dialog, kRegionFields[i].upDown, full[i]);
    }
    EnableControls(dialog, kRegionInputs, true);
    SendDlgItemMessageW(dialog, IDC_SUBSAMPLE, CB_SETCURSEL, 0, 0);
    config_->SetRegion(0, 0, 0, fullWidth, fullHeight);
}

} // namespace zyn
