#include "plugin/base_property_page.h"

#include <commctrl.h>

#include "plugin/module.h"

namespace zyn {

CBasePropertyPage::CBasePropertyPage(const wchar_t* name, IUnknown* outer, int dialogId,
                                     int titleId)
    : CUnknown(name, outer), dialogId_(dialogId), titleId_(titleId) {}

CBasePropertyPage::~CBasePropertyPage() {
    // A frame that releases an active page leaves no window behind that points at it.
    if (window_) {
        SetWindowLongPtrW(window_, DWLP_USER, 0);
        DestroyWindow(window_);
    }
    if (site_)
        site_->Release();
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::NonDelegatingQueryInterface(REFIID iid,
                                                                         void** object) {
    return ExposeOwnInterface(iid, IID_IPropertyPage, static_cast<IPropertyPage*>(this), object);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetPageSite(IPropertyPageSite* site) {
    if (site) {
        if (site_)
            return E_UNEXPECTED;
        site_ = site;
        site_->AddRef();
    } else {
        if (!site_)
            return E_UNEXPECTED;
        site_->Release();
        site_ = nullptr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (!rect)
        return E_POINTER;
    if (window_)
        return E_UNEXPECTED;
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&classes);
    window_ = CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(dialogId_), parent, DialogProc,
                                 reinterpret_cast<LPARAM>(this));
    if (!window_)
        return E_OUTOFMEMORY;
    OnActivate();
    Move(rect);
    return Show(SW_SHOWNORMAL);
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Deactivate() {
    if (!window_)
        return E_UNEXPECTED;
    OnDeactivate();
    DestroyWindow(window_);
    window_ = nullptr;
    dialog_ = nullptr;
    return S_OK;
}

SIZE CBasePropertyPage::DialogSize() const {
    // Measured from a hidden instance, so that the frame can size itself before Activate.
    SIZE size = {340, 150};
    HWND measured = CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(dialogId_),
                                       GetDesktopWindow(), DialogProc, 0);
    if (measured) {
        RECT rect;
        GetWindowRect(measured, &rect);
        size = {rect.right - rect.left, rect.bottom - rect.top};
        DestroyWindow(measured);
    }
    return size;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info)
        return E_POINTER;
    const wchar_t* title = nullptr;
    const int length = LoadStringW(ModuleInstance(), titleId_, reinterpret_cast<LPWSTR>(&title), 0);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
    if (!copy)
        return E_OUTOFMEMORY;
    for (int i = 0; i < length; ++i)
        copy[i] = title[i];
    copy[length] = L'\0';
    info->pszTitle = copy;
    info->size = DialogSize();
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    if (count == 1) {
        if (!objects || !objects[0])
            return E_POINTER;
        objectSet_ = true;
        return OnConnect(objects[0]);
    }
    if (count == 0) {
        objectSet_ = false;
        return OnDisconnect();
    }
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Show(UINT command) {
    if (!window_)
        return E_UNEXPECTED;
    if (command != SW_SHOW && command != SW_SHOWNORMAL && command != SW_HIDE)
        return E_INVALIDARG;
    ShowWindow(window_, command);
    InvalidateRect(window_, nullptr, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Move(LPCRECT rect) {
    if (!rect)
        return E_POINTER;
    if (!window_)
        return E_UNEXPECTED;
    MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
               TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::IsPageDirty() {
    return dirty_ ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Apply() {
    if (!objectSet_ || !site_)
        return E_UNEXPECTED;
    return dirty_ ? OnApplyChanges() : S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::Help(LPCOLESTR) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePropertyPage::TranslateAccelerator(MSG*) {
    return E_NOTIMPL;
}

HRESULT CBasePropertyPage::OnConnect(IUnknown*) {
    return S_OK;
}
HRESULT CBasePropertyPage::OnDisconnect() {
    return S_OK;
}
HRESULT CBasePropertyPage::OnActivate() {
    return S_OK;
}
HRESULT CBasePropertyPage::OnDeactivate() {
    return S_OK;
}
HRESULT CBasePropertyPage::OnApplyChanges() {
    return S_OK;
}

INT_PTR CBasePropertyPage::OnReceiveMessage(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        // The frame's dialog manager tabs into the page's controls only through a control
        // parent; the frame is free to choose the focus.
        SetWindowLongPtrW(window, GWL_EXSTYLE,
                          GetWindowLongPtrW(window, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
        return FALSE;
    case WM_STYLECHANGING:
        // Some frames clear the control-parent style behind the page's back.
        if (wParam == static_cast<WPARAM>(GWL_EXSTYLE))
            reinterpret_cast<STYLESTRUCT*>(lParam)->styleNew |= WS_EX_CONTROLPARENT;
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK CBasePropertyPage::DialogProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    CBasePropertyPage* page;
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        page = reinterpret_cast<CBasePropertyPage*>(lParam);
        if (page)
            page->dialog_ = window;
    } else {
        page = reinterpret_cast<CBasePropertyPage*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    // The instance that GetPageInfo measures has no page.
    return page ? page->OnReceiveMessage(window, message, wParam, lParam) : FALSE;
}

} // namespace zyn
