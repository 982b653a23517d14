#include "tests/plugin/property_frame.h"

#include <commctrl.h>

namespace zyn::test {
namespace {

constexpr wchar_t kFrameClass[] = L"ZynTestPropertyFrame";
constexpr int kMargin = 8;

void RegisterFrameClass() {
    static bool registered = false;
    if (registered)
        return;
    WNDCLASSW frameClass = {};
    frameClass.lpfnWndProc = DefWindowProcW;
    frameClass.hInstance = GetModuleHandleW(nullptr);
    frameClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    frameClass.lpszClassName = kFrameClass;
    frameClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    RegisterClassW(&frameClass);
    registered = true;
}

} // namespace

HRESULT STDMETHODCALLTYPE PropertyFrame::Site::QueryInterface(REFIID iid, void** object) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyPageSite)) {
        *object = static_cast<IPropertyPageSite*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE PropertyFrame::Site::GetLocaleID(LCID* locale) {
    *locale = GetUserDefaultLCID();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PropertyFrame::Site::GetPageContainer(IUnknown** container) {
    *container = nullptr;
    return E_NOTIMPL;
}

PropertyFrame::PropertyFrame(IPropertyPage* page) : page_(page), site_(new Site) {
    RegisterFrameClass();
    page_->SetPageSite(site_);
    info_.cb = sizeof(info_);
    page_->GetPageInfo(&info_);

    RECT outer = {0, 0, info_.size.cx + 2 * kMargin, info_.size.cy + 2 * kMargin};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    AdjustWindowRect(&outer, style, FALSE);
    window_ = CreateWindowExW(WS_EX_CONTROLPARENT, kFrameClass, info_.pszTitle, style, 40, 40,
                              outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    ShowWindow(window_, SW_SHOW);
    const RECT pageRect = {kMargin, kMargin, kMargin + info_.size.cx, kMargin + info_.size.cy};
    page_->Activate(window_, &pageRect, FALSE);
    UpdateWindow(window_);
    Pump();
}

PropertyFrame::~PropertyFrame() {
    page_->Deactivate();
    page_->SetPageSite(nullptr);
    DestroyWindow(window_);
    Pump();
    CoTaskMemFree(info_.pszTitle);
    delete site_;
}

HWND PropertyFrame::Page() const {
    return GetWindow(window_, GW_CHILD);
}

HWND PropertyFrame::Control(int id) const {
    return GetDlgItem(Page(), id);
}

void PropertyFrame::Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (page_->TranslateAccelerator(&message) == S_OK)
            continue;
        if (IsDialogMessageW(window_, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void PostKey(HWND control, UINT key) {
    const UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    SetFocus(control);
    PostMessageW(control, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageW(control, WM_KEYUP, key, 1 | (scan << 16) | (3u << 30));
}

void PropertyFrame::Click(int id) {
    SendMessageW(Control(id), BM_CLICK, 0, 0);
    Pump();
}

void PropertyFrame::Press(int id, UINT key, int times) {
    for (int i = 0; i < times; ++i) {
        PostKey(Control(id), key);
        Pump();
    }
}

void PropertyFrame::Type(int id, const std::wstring& text) {
    const HWND edit = Control(id);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    if (text.empty())
        PostMessageW(edit, WM_CHAR, VK_BACK, 1);
    for (wchar_t character : text)
        PostMessageW(edit, WM_CHAR, character, 1);
    Pump();
}

void PropertyFrame::Append(int id, const std::wstring& text) {
    const HWND edit = Control(id);
    SetFocus(edit);
    const int length = GetWindowTextLengthW(edit);
    SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(length), length);
    for (wchar_t character : text)
        PostMessageW(edit, WM_CHAR, character, 1);
    Pump();
}

bool PropertyFrame::Checked(int id) const {
    return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::wstring PropertyFrame::Text(int id) const {
    wchar_t text[256];
    const int length = GetWindowTextW(Control(id), text, 256);
    return std::wstring(text, length);
}

LONG PropertyFrame::TrackbarPosition(int id) const {
    return static_cast<LONG>(SendMessageW(Control(id), TBM_GETPOS, 0, 0));
}

LONG PropertyFrame::TrackbarMinimum(int id) const {
    return static_cast<LONG>(SendMessageW(Control(id), TBM_GETRANGEMIN, 0, 0));
}

LONG PropertyFrame::TrackbarMaximum(int id) const {
    return static_cast<LONG>(SendMessageW(Control(id), TBM_GETRANGEMAX, 0, 0));
}

LONG PropertyFrame::UpDownPosition(int id) const {
    return static_cast<LONG>(SendMessageW(Control(id), UDM_GETPOS32, 0, 0));
}

void PropertyFrame::UpDownRange(int id, LONG* minimum, LONG* maximum) const {
    SendMessageW(Control(id), UDM_GETRANGE32, reinterpret_cast<WPARAM>(minimum),
                 reinterpret_cast<LPARAM>(maximum));
}

std::vector<std::wstring> PropertyFrame::ComboEntries(int id) const {
    std::vector<std::wstring> entries;
    const LRESULT count = SendMessageW(Control(id), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[64];
        const LRESULT length = SendMessageW(Control(id), CB_GETLBTEXT, static_cast<WPARAM>(i),
                                            reinterpret_cast<LPARAM>(text));
        entries.emplace_back(text, length > 0 ? static_cast<size_t>(length) : 0);
    }
    return entries;
}

int PropertyFrame::ComboSelection(int id) const {
    return static_cast<int>(SendMessageW(Control(id), CB_GETCURSEL, 0, 0));
}

} // namespace zyn::test
