// A property frame for one page, as an application shows a filter's pages: a top-level window
// that hosts the page, a page site that records the page's status reports, and a message loop
// that offers every message to the page's TranslateAccelerator first. The page is driven only
// by the messages a person's clicks and keys produce.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

namespace zyn::test {

class PropertyFrame {
public:
    // Sets the page site, creates the frame sized from the page's info and activates the page
    // in it. The page must already have its objects.
    explicit PropertyFrame(IPropertyPage* page);
    PropertyFrame(const PropertyFrame&) = delete;
    PropertyFrame& operator=(const PropertyFrame&) = delete;
    // Deactivates the page and clears its site.
    ~PropertyFrame();

    HWND Window() const { return window_; }
    HWND Page() const; // the page's dialog window
    HWND Control(int id) const;
    const PROPPAGEINFO& Info() const { return info_; }
    // Status flags the page reported through its site, in order.
    const std::vector<DWORD>& StatusReports() const { return site_->reports; }

    // Handles every queued message as the frame's loop does.
    void Pump();
    // A mouse click on a button or check box.
    void Click(int id);
    // Key presses (down and up) with the focus on the control.
    void Press(int id, UINT key, int times = 1);
    // Selects the edit box's text and types `text` over it, character by character.
    void Type(int id, const std::wstring& text);
    // Types `text` at the end of what the edit box holds.
    void Append(int id, const std::wstring& text);

    bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
    bool Visible(int id) const {
        return (GetWindowLongW(Control(id), GWL_STYLE) & WS_VISIBLE) != 0;
    }
    bool Checked(int id) const;
    std::wstring Text(int id) const;
    LONG TrackbarPosition(int id) const;
    LONG TrackbarMinimum(int id) const;
    LONG TrackbarMaximum(int id) const;
    LONG UpDownPosition(int id) const;
    void UpDownRange(int id, LONG* minimum, LONG* maximum) const;
    std::vector<std::wstring> ComboEntries(int id) const;
    int ComboSelection(int id) const;

private:
    struct Site final : IPropertyPageSite {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
        ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
        ULONG STDMETHODCALLTYPE Release() override { return --references; }
        HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override {
            reports.push_back(flags);
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* locale) override;
        HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown** container) override;
        HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }
        ULONG references = 1;
        std::vector<DWORD> reports;
    };

    IPropertyPage* const page_;
    Site* site_;
    HWND window_ = nullptr;
    PROPPAGEINFO info_{};
};

// Puts the focus on `control` and posts a key press to it (down, then up).
void PostKey(HWND control, UINT key);

} // namespace zyn::test
