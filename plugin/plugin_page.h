// COculixDSProxyPluginPage: the "Oculix ZYN KS Page" property page. It shows every camera
// setting the driver reports and sends each change the moment the user makes it; Apply only
// clears the dirty state.
#pragma once

#include <windows.h>

#include "oculix_zyn_config.h"
#include "plugin/base_property_page.h"
#include "plugin/dialog_controls.h"

namespace zyn {

class COculixDSProxyPluginPage final : public CBasePropertyPage {
public:
    // The class factory's creation function.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    // Enter in a slider group's edit box commits the typed value.
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override;

    // A trackbar, edit and up-down group of the page, with the ids of its value, its range and
    // the values shown when the driver does not answer.
    struct Slider {
        SliderGroup controls;
        ULONG value, minimum, maximum;
        LONG fillMinimum, fillMaximum, fillValue;
        LONG enterMinimum, enterMaximum;
    };

private:
    explicit COculixDSProxyPluginPage(IUnknown* outer);
    ~COculixDSProxyPluginPage() override;

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    LONG Read(ULONG id, LONG fallback) { return ReadProperty(config_, id, fallback); }
    void Send(ULONG id, LONG value) { config_->SetProperty(id, value); }
    void MarkDirty();

    void Fill();
    void FillSlider(const Slider& slider, bool capMaximum);
    void FillRegion();
    void OnCommand(int id, int code);
    void OnTrackbarMoved(HWND trackbar);
    void OnUpDownMoved(HWND upDown);
    void OnRegionEditChanged(int id);
    void CommitEdit(const Slider& slider);
    void SetAutoMode(int check, ULONG property, const Slider& slider);
    void SetRegionFromEdits();
    void ResetRegion();

    IOculixZYNDSConfig* config_ = nullptr; // one reference while connected
    bool active_ = false;                  // controls filled, notifications handled
};

} // namespace zyn
