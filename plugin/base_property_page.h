// CBasePropertyPage: IPropertyPage for a page built from a dialog template. It keeps the page
// site, the objects-set and dirty flags, creates the dialog as a child of the frame's window on
// Activate and destroys it on Deactivate; derived pages fill and handle the dialog through the
// virtual operations.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "plugin/unknown.h"

namespace zyn {

class CBasePropertyPage : public IPropertyPage, public CUnknown {
public:
    CBasePropertyPage(const wchar_t* name, IUnknown* outer, int dialogId, int titleId);
    ~CBasePropertyPage() override;

    ZYN_DELEGATING_IUNKNOWN

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT command) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpDirectory) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message) override;

protected:
    virtual HRESULT OnConnect(IUnknown* object);
    virtual HRESULT OnDisconnect();
    virtual HRESULT OnActivate();
    virtual HRESULT OnDeactivate();
    virtual HRESULT OnApplyChanges();
    // Every message of the dialog comes here; the result is the dialog procedure's.
    virtual INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND Dialog() const { return dialog_; }
    IPropertyPageSite* PageSite() const { return site_; }
    bool Dirty() const { return dirty_; }
    void SetDirty(bool dirty) { dirty_ = dirty; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    SIZE DialogSize() const;

    IPropertyPageSite* site_ = nullptr;
    HWND window_ = nullptr; // the page as Activate created it
    HWND dialog_ = nullptr; // the same window, known from WM_INITDIALOG on
    bool dirty_ = false;
    bool objectSet_ = false;
    const int dialogId_;
    const int titleId_;
};

} // namespace zyn
