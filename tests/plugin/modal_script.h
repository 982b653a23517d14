// Drives a modal dialog from inside its own message loop. Each step runs once every message
// posted before it (and every message those posted in turn) has been handled, so a step sees
// the effect of the keys the previous one pressed.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace zyn::test {

class ModalScript {
public:
    using Step = std::function<void(HWND dialog)>;

    // The dialog is the current thread's window titled `caption`.
    explicit ModalScript(std::wstring caption);
    ModalScript(const ModalScript&) = delete;
    ModalScript& operator=(const ModalScript&) = delete;
    ~ModalScript();

    ModalScript& Then(Step step);
    // Calls `open`, which runs the dialog modally, and returns what it returns. A dialog that
    // is still open after the last step fails the test and is closed with -1.
    INT_PTR Run(const std::function<INT_PTR()>& open);

private:
    static LRESULT CALLBACK HelperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnStep(WPARAM deferrals);
    HWND FindDialog() const;

    const std::wstring caption_;
    std::vector<Step> steps_;
    size_t next_ = 0;
    HWND helper_ = nullptr;
};

} // namespace zyn::test
