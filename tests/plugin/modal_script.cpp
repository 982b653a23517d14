#include "tests/plugin/modal_script.h"

#include <gtest/gtest.h>

namespace zyn::test {
namespace {

constexpr wchar_t kHelperClass[] = L"ZynTestModalScript";
constexpr UINT kRunStep = WM_APP + 1;
// Enough for a key press that posts a follow-up message which posts another.
constexpr WPARAM kMaximumDeferrals = 64;

struct FindContext {
    const std::wstring* caption;
    HWND found;
};

BOOL CALLBACK MatchCaption(HWND window, LPARAM context) {
    auto* find = reinterpret_cast<FindContext*>(context);
    wchar_t text[128];
    const int length = GetWindowTextW(window, text, 128);
    if (*find->caption == std::wstring(text, length)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

ModalScript::ModalScript(std::wstring caption) : caption_(std::move(caption)) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW helperClass = {};
        helperClass.lpfnWndProc = HelperProc;
        helperClass.hInstance = GetModuleHandleW(nullptr);
        helperClass.lpszClassName = kHelperClass;
        RegisterClassW(&helperClass);
        registered = true;
    }
    helper_ = CreateWindowExW(0, kHelperClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(helper_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

ModalScript::~ModalScript() {
    DestroyWindow(helper_);
}

ModalScript& ModalScript::Then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
}

INT_PTR ModalScript::Run(const std::function<INT_PTR()>& open) {
    next_ = 0;
    PostMessageW(helper_, kRunStep, 0, 0);
    return open();
}

HWND ModalScript::FindDialog() const {
    FindContext find{&caption_, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchCaption, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

void ModalScript::OnStep(WPARAM deferrals) {
    // Go to the back of the queue while other posted messages wait in it.
    const DWORD queued = HIWORD(GetQueueStatus(QS_POSTMESSAGE));
    if ((queued & QS_POSTMESSAGE) && deferrals < kMaximumDeferrals) {
        PostMessageW(helper_, kRunStep, deferrals + 1, 0);
        return;
    }
    const HWND dialog = FindDialog();
    if (next_ < steps_.size()) {
        if (!dialog) {
            ADD_FAILURE() << "the dialog \"" << std::string(caption_.begin(), caption_.end())
                          << "\" closed before step " << next_ + 1 << " of " << steps_.size();
            return;
        }
        // The modal loop shows the dialog once its queue runs dry, which the steps keep from
        // happening; show it as that loop would.
        if (!IsWindowVisible(dialog)) {
            ShowWindow(dialog, SW_SHOWNORMAL);
            UpdateWindow(dialog);
        }
        steps_[next_++](dialog);
        PostMessageW(helper_, kRunStep, 0, 0);
        return;
    }
    if (dialog) {
        ADD_FAILURE() << "the dialog is still open after the last step";
        EndDialog(dialog, -1);
    }
}

LRESULT CALLBACK ModalScript::HelperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunStep) {
        auto* script = reinterpret_cast<ModalScript*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (script)
            script->OnStep(wParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace zyn::test
