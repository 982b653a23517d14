// The colours gain dialog, run modally and driven from inside its own message loop. Its code
// is built into this program too: only the 32-bit page offers it.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "plugin/colors_gain_dialog.h"
#include "plugin/resource_ids.h"
#include "tests/plugin/fake_filter.h"
#include "tests/plugin/modal_script.h"
#include "tests/plugin/page_fixture.h"
#include "tests/plugin/plugin_module.h"
#include "tests/plugin/property_frame.h"
#include "tests/plugin/screenshot.h"

namespace zyn::test {
namespace {

constexpr wchar_t kCaption[] = L"Colors Gain Options";

struct Channel {
    const char* name;
    int trackbar, edit, upDown;
    DWORD property;
};
constexpr Channel kRed = {"red", IDC_CG_RED_SLIDER, IDC_CG_RED_EDIT, IDC_CG_RED_SPIN, 63};
constexpr Channel kGreen1 = {"green 1", IDC_CG_GREEN1_SLIDER, IDC_CG_GREEN1_EDIT,
                             IDC_CG_GREEN1_SPIN, 64};
constexpr Channel kGreen2 = {"green 2", IDC_CG_GREEN2_SLIDER, IDC_CG_GREEN2_EDIT,
                             IDC_CG_GREEN2_SPIN, 65};
constexpr Channel kBlue = {"blue", IDC_CG_BLUE_SLIDER, IDC_CG_BLUE_EDIT, IDC_CG_BLUE_SPIN, 66};
constexpr const Channel* kChannels[] = {&kRed, &kGreen1, &kGreen2, &kBlue};

std::wstring Text(HWND dialog, int id) {
    wchar_t text[64];
    return std::wstring(text, GetDlgItemTextW(dialog, id, text, 64));
}

LONG TrackbarPosition(HWND dialog, int id) {
    return static_cast<LONG>(SendDlgItemMessageW(dialog, id, TBM_GETPOS, 0, 0));
}

LONG UpDownPosition(HWND dialog, int id) {
    return static_cast<LONG>(SendDlgItemMessageW(dialog, id, UDM_GETPOS32, 0, 0));
}

bool Linked(HWND dialog) {
    return IsDlgButtonChecked(dialog, IDC_CG_LINK) == BST_CHECKED;
}

void ExpectShows(HWND dialog, const Channel& channel, LONG value) {
    SCOPED_TRACE(channel.name);
    EXPECT_EQ(value, TrackbarPosition(dialog, channel.trackbar));
    EXPECT_EQ(std::to_wstring(value), Text(dialog, channel.edit));
    EXPECT_EQ(value, UpDownPosition(dialog, channel.upDown));
}

// Key presses go through the dialog's own loop, which runs them past the dialog manager.
void Press(HWND dialog, int id, UINT key) {
    PostKey(GetDlgItem(dialog, id), key);
}

void Click(HWND dialog, int id) {
    SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0);
}

void TypeInto(HWND dialog, int id, const wchar_t* text) {
    const HWND edit = GetDlgItem(dialog, id);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    for (const wchar_t* c = text; *c; ++c)
        PostMessageW(edit, WM_CHAR, *c, 1);
}

class ColorsGainDialogTest : public testing::Test {
protected:
    void SetUp() override {
        filter_ = FakeFilter::Create(DriverModel::Tern);
        ASSERT_EQ(S_OK, filter_->AggregateExtension());
        filter_->values[CAMPROP_COLOR_GAIN_MIN] = 0;
        filter_->values[CAMPROP_COLOR_GAIN_MAX] = 127;
        filter_->values[CAMPROP_COLOR_GAIN_RED] = 10;
        filter_->values[CAMPROP_COLOR_GAIN_GREEN1] = 20;
        filter_->values[CAMPROP_COLOR_GAIN_GREEN2] = 20;
        filter_->values[CAMPROP_COLOR_GAIN_BLUE] = 30;
        config_ = filter_->Config();
        ASSERT_NE(nullptr, config_);
        owner_ =
            CreateWindowExW(0, L"Static", L"owner", WS_POPUP | WS_CAPTION | WS_VISIBLE, 200, 150,
                            500, 400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    void TearDown() override {
        DestroyWindow(owner_);
        if (config_)
            config_->Release();
        if (filter_)
            filter_->Release();
    }

    // Opens the dialog for `config` and runs `script` in it; returns how it closed.
    INT_PTR Run(ModalScript& script, IOculixZYNDSConfig* config) {
        filter_->ClearCalls();
        CDlgColorsGain dialog(config, owner_);
        return script.Run([&] { return dialog.DoModal(); });
    }
    INT_PTR Run(ModalScript& script) { return Run(script, config_); }

    Sends Sent() const { return filter_->Sets(); }

    FakeFilter* filter_ = nullptr;
    IOculixZYNDSConfig* config_ = nullptr;
    HWND owner_ = nullptr;
};

TEST_F(ColorsGainDialogTest, OpensWithTheDriversGainsAndRange) {
    ModalScript script(kCaption);
    script.Then([&](HWND dialog) {
        ExpectShows(dialog, kRed, 10);
        ExpectShows(dialog, kGreen1, 20);
        ExpectShows(dialog, kGreen2, 20);
        ExpectShows(dialog, kBlue, 30);
        for (const Channel* channel : kChannels) {
            EXPECT_EQ(0, SendDlgItemMessageW(dialog, channel->trackbar, TBM_GETRANGEMIN, 0, 0));
            EXPECT_EQ(127, SendDlgItemMessageW(dialog, channel->trackbar, TBM_GETRANGEMAX, 0, 0));
        }
        EXPECT_TRUE(Linked(dialog)) << "equal greens open linked";
        EXPECT_EQ(owner_, GetWindow(dialog, GW_OWNER));
        EXPECT_FALSE(IsWindowEnabled(owner_)) << "modal";
        Screenshot(dialog, L"colors-gain-dialog");
        Press(dialog, IDC_CG_RED_SLIDER, VK_ESCAPE);
    });
    EXPECT_EQ(IDCANCEL, Run(script));
    EXPECT_TRUE(Sent().empty()) << "opening and closing change nothing";
    EXPECT_EQ((std::vector<DWORD>{61, 62, 63, 64, 65, 66}), filter_->Gets());
}

TEST_F(ColorsGainDialogTest, MovingALinkedGreenSendsBothGreensAtEveryStep) {
    ModalScript script(kCaption);
    script.Then([&](HWND dialog) { Press(dialog, kGreen2.trackbar, VK_RIGHT); })
        .Then([&](HWND dialog) { Press(dialog, kGreen2.trackbar, VK_RIGHT); })
        .Then([&](HWND dialog) {
            EXPECT_EQ((Sends{{65, 21}, {64, 21}, {65, 22}, {64, 22}}), Sent());
            ExpectShows(dialog, kGreen1, 22);
            filter_->ClearCalls();
            Press(dialog, kGreen1.edit, VK_UP); // the up-down of green 1
        })
        .Then([&](HWND dialog) {
            EXPECT_EQ((Sends{{64, 23}, {65, 23}}), Sent());
            ExpectShows(dialog, kGreen2, 23);
            Click(dialog, IDC_CG_LINK);
            filter_->ClearCalls();
            Press(dialog, kGreen2.trackbar, VK_LEFT);
            Press(dialog, kRed.trackbar, VK_RIGHT);
        })
        .Then([&](HWND dialog) {
            EXPECT_EQ((Sends{{65, 22}, {63, 11}}), Sent()) << "unlinked, each green alone";
            ExpectShows(dialog, kGreen1, 23);
            Press(dialog, kRed.trackbar, VK_ESCAPE);
        });
    Run(script);
}

TEST_F(ColorsGainDialogTest, EnterInAnEditCommitsItClampedAndMovesOn) {
    ModalScript script(kCaption);
    script
        .Then([&](HWND dialog) {
            TypeInto(dialog, kRed.edit, L"200");
            Press(dialog, kRed.edit, VK_RETURN);
        })
        .Then([&](HWND dialog) {
            EXPECT_EQ((Sends{{63, 127}}), Sent());
            ExpectShows(dialog, kRed, 127);
            EXPECT_EQ(GetDlgItem(dialog, kGreen1.trackbar), GetFocus())
                << "the focus moves to the next control";
            filter_->ClearCalls();
            TypeInto(dialog, kGreen2.edit, L"5");
            Press(dialog, kGreen2.edit, VK_RETURN);
        })
        .Then([&](HWND dialog) {
            EXPECT_EQ((Sends{{65, 5}, {64, 5}}), Sent()) << "linked greens";
            ExpectShows(dialog, kGreen1, 5);
            // Enter anywhere else closes the dialog.
            Press(dialog, kBlue.trackbar, VK_RETURN);
        });
    EXPECT_EQ(IDOK, Run(script));
}

TEST_F(ColorsGainDialogTest, OpensUnlinkedWhenTheGreensDifferAndDefaultLeavesTheLinkAlone) {
    filter_->values[CAMPROP_COLOR_GAIN_GREEN1] = 40;
    ModalScript script(kCaption);
    script.Then([&](HWND dialog) {
        ASSERT_FALSE(Linked(dialog)) << "different greens open unlinked";
        // Default sends 63 for every gain.
        Click(dialog, IDC_CG_DEFAULT);
        EXPECT_EQ((Sends{{63, 63}, {64, 63}, {65, 63}, {66, 63}}), Sent());
        for (const Channel* channel : kChannels)
            ExpectShows(dialog, *channel, 63);
        EXPECT_FALSE(Linked(dialog));
        Click(dialog, IDOK);
    });
    EXPECT_EQ(IDOK, Run(script));
}

TEST_F(ColorsGainDialogTest, WithoutADriverShowsFallbacksAndChangesNothing) {
    ModalScript script(kCaption);
    script
        .Then([&](HWND dialog) {
            for (const Channel* channel : kChannels)
                ExpectShows(dialog, *channel, 63);
            EXPECT_EQ(127, SendDlgItemMessageW(dialog, kRed.trackbar, TBM_GETRANGEMAX, 0, 0));
            Click(dialog, IDC_CG_DEFAULT);
            Press(dialog, kRed.trackbar, VK_RIGHT);
        })
        .Then([&](HWND dialog) {
            EXPECT_EQ(L"63", Text(dialog, kRed.edit));
            Press(dialog, kRed.trackbar, VK_ESCAPE);
        });
    EXPECT_EQ(IDCANCEL, Run(script, nullptr));
    EXPECT_TRUE(filter_->calls.empty());
}

TEST_F(ColorsGainDialogTest, OpensCentredOnItsOwnerAndInsideTheWorkArea) {
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const auto placed = [&](int x, int y) {
        SetWindowPos(owner_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT rect = {};
        ModalScript script(kCaption);
        script.Then([&](HWND dialog) {
            GetWindowRect(dialog, &rect);
            Press(dialog, kRed.trackbar, VK_ESCAPE);
        });
        Run(script);
        return rect;
    };

    RECT owner;
    const RECT centred = placed(200, 150);
    GetWindowRect(owner_, &owner);
    EXPECT_NEAR((owner.left + owner.right) / 2, (centred.left + centred.right) / 2, 1);
    EXPECT_NEAR((owner.top + owner.bottom) / 2, (centred.top + centred.bottom) / 2, 1);

    // An owner hanging over the bottom-right corner of the screen.
    const RECT corner = placed(work.right - 150, work.bottom - 100);
    EXPECT_EQ(work.right, corner.right);
    EXPECT_EQ(work.bottom, corner.bottom);
    // And over the top-left corner.
    const RECT origin = placed(work.left - 400, work.top - 350);
    EXPECT_EQ(work.left, origin.left);
    EXPECT_EQ(work.top, origin.top);
}

// The 32-bit page opens the dialog from its "More..." button when the driver offers it.
using MoreButtonTest = PageTest;

TEST_F(MoreButtonTest, OpensTheDialogWhereTheDriverOffersIt) {
    if (kX64)
        GTEST_SKIP() << "the 64-bit page has no \"More...\" button";
    Open(DriverModel::Tern, {{CAMPROP_COLOR_GAIN_DIALOG, 1},
                             {CAMPROP_COLOR_GAIN_MAX, 127},
                             {CAMPROP_COLOR_GAIN_RED, 50}});
    ASSERT_TRUE(Frame().Enabled(IDC_MORE));
    ModalScript script(kCaption);
    script.Then([&](HWND dialog) {
        EXPECT_EQ(Frame().Window(), GetWindow(dialog, GW_OWNER));
        EXPECT_EQ(L"50", Text(dialog, IDC_CG_RED_EDIT));
        Press(dialog, IDC_CG_RED_SLIDER, VK_ESCAPE);
    });
    script.Run([&] {
        SendMessageW(Frame().Control(IDC_MORE), BM_CLICK, 0, 0);
        return INT_PTR(0);
    });
}

} // namespace
} // namespace zyn::test
