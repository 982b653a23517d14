// The property page in a property frame, driven by the messages a person's clicks and keys
// produce, against a driver that answers like a Tern, like a Heron or not at all.
#include <windows.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include "tests/plugin/page_fixture.h"
#include "tests/plugin/screenshot.h"

namespace zyn::test {
namespace {

const int kRegionInputs[] = {IDC_ROI_X,      IDC_ROI_Y,      IDC_ROI_W,      IDC_ROI_H,
                             IDC_ROI_X_SPIN, IDC_ROI_Y_SPIN, IDC_ROI_W_SPIN, IDC_ROI_H_SPIN};
const int kColorGainControls[] = {IDC_RED_SLIDER,   IDC_RED_EDIT,   IDC_RED_SPIN,
                                  IDC_GREEN_SLIDER, IDC_GREEN_EDIT, IDC_GREEN_SPIN,
                                  IDC_BLUE_SLIDER,  IDC_BLUE_EDIT,  IDC_BLUE_SPIN};

using PropertyPageTest = PageTest;

// Filling.

TEST_F(PropertyPageTest, ReportsItsTitleAndTheSizeOfItsDialog) {
    Open(DriverModel::Tern);
    EXPECT_STREQ(L"Oculix ZYN KS Page", Frame().Info().pszTitle);
    RECT units = {0, 0, 427, 279};
    MapDialogRect(Frame().Page(), &units);
    EXPECT_EQ(units.right, Frame().Info().size.cx);
    EXPECT_EQ(units.bottom, Frame().Info().size.cy);
}

TEST_F(PropertyPageTest, RefusesAFilterWithoutTheExtensionInterface) {
    Ref<FakeFilter> other(FakeFilter::Create(DriverModel::Tern)); // nothing aggregated
    Ref<IClassFactory> factory(ClassFactory(CLSID_OculixZYNPropertyPage));
    Ref<IPropertyPage> page;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IPropertyPage, page.OutVoid()));
    IUnknown* object = other->Unknown();
    EXPECT_EQ(E_NOINTERFACE, page->SetObjects(1, &object));
    EXPECT_EQ(E_POINTER, page->SetObjects(1, nullptr));
}

TEST_F(PropertyPageTest, ShowsATernsSettingsAndSendsNothingWhileFilling) {
    Open(DriverModel::Tern, {{CAMPROP_RED_GAIN, 101},
                             {CAMPROP_GREEN_GAIN, 102},
                             {CAMPROP_BLUE_GAIN, 103},
                             {CAMPROP_BRIGHTNESS, 300},
                             {CAMPROP_CONTRAST, 11},
                             {CAMPROP_SATURATION, 12},
                             {CAMPROP_HUE, 13},
                             {CAMPROP_TIMEOUT, 2500},
                             {CAMPROP_FLIP_V, 1}});
    EXPECT_TRUE(sendsWhileFilling_.empty());
    EXPECT_TRUE(Frame().StatusReports().empty()) << "filling leaves the page clean";

    const FilledSlider filled[] = {{2, 8, 1074, 64},  {6, 0, 1023, 512}, {14, 1, 512, 101},
                                   {15, 1, 512, 102}, {16, 1, 512, 103}, {20, 0, 510, 300},
                                   {24, 0, 20, 11},   {28, 0, 20, 12},   {32, 0, 359, 13}};
    ExpectFilled(Frame(), {filled,
                           L"2500",
                           "flip, colour, correction",
                           {L"1360", L"1024", L"0", L"0", L"1360", L"1024"}});
    EXPECT_TRUE(Frame().Enabled(IDC_EXTRIGGER));
    EXPECT_TRUE(Frame().Visible(IDC_FLIP_H) && Frame().Visible(IDC_FLIP_V));
    for (int id : kColorGainControls)
        EXPECT_TRUE(Frame().Enabled(id)) << id;

    EXPECT_FALSE(Frame().Enabled(IDC_CLOCK)) << "a Tern's clock is fixed";
    EXPECT_TRUE(Frame().ComboEntries(IDC_CLOCK).empty());
    EXPECT_FALSE(Frame().Enabled(IDC_AUTO_EXPOSURE));
    EXPECT_FALSE(Frame().Enabled(IDC_AUTO_GAIN));
    EXPECT_TRUE(Frame().Enabled(IDC_EXPOSURE_SLIDER) && Frame().Enabled(IDC_EXPOSURE_EDIT));
    EXPECT_TRUE(Frame().Enabled(IDC_GAIN_SLIDER) && Frame().Enabled(IDC_GAIN_EDIT));

    EXPECT_EQ(1360, Frame().UpDownPosition(IDC_ROI_W_SPIN));
    LONG minimum = 0, maximum = 0;
    Frame().UpDownRange(IDC_ROI_W_SPIN, &minimum, &maximum);
    EXPECT_EQ(32, minimum);
    EXPECT_EQ(1360, maximum);
    Frame().UpDownRange(IDC_ROI_H_SPIN, &minimum, &maximum);
    EXPECT_EQ(8, minimum);
    EXPECT_EQ(1024, maximum);
    EXPECT_FALSE(Frame().Enabled(IDC_SUBSAMPLE)) << "a Tern does not sub-sample";
    for (int id : kRegionInputs)
        EXPECT_TRUE(Frame().Enabled(id)) << id;
    EXPECT_TRUE(Frame().Enabled(IDC_REGION_SET) && Frame().Enabled(IDC_REGION_DEFAULT));

    if (kX64) {
        EXPECT_EQ(nullptr, Frame().Control(IDC_MORE)) << "the 64-bit page has no \"More...\"";
    } else {
        ASSERT_NE(nullptr, Frame().Control(IDC_MORE));
        EXPECT_FALSE(Frame().Enabled(IDC_MORE)) << "a Tern offers no colours gain dialog";
    }
    Screenshot(Frame().Window(), L"page-tern");
}

TEST_F(PropertyPageTest, ShowsAHeronsLargerRangesAndItsRegion) {
    Open(DriverModel::Heron);
    // The 64-bit page caps the exposure and gain trackbars.
    ExpectRange(Slider(2), 1, kX64 ? 5000 : 32767);
    ExpectShows(Slider(2), 2048);
    ExpectRange(Slider(6), 0, 480);
    ExpectRange(Slider(14), 1, 255);

    EXPECT_TRUE(Frame().Enabled(IDC_SUBSAMPLE));
    EXPECT_EQ((std::vector<std::wstring>{L"Keep origin", L"Skip 2X"}),
              Frame().ComboEntries(IDC_SUBSAMPLE));
    EXPECT_EQ(0, Frame().ComboSelection(IDC_SUBSAMPLE));
    EXPECT_EQ((Texts{L"2448", L"2048", L"100", L"200", L"1024", L"768"}), RegionShown(Frame()));
    EXPECT_EQ(200, Frame().UpDownPosition(IDC_ROI_Y_SPIN));
    if (!kX64) {
        EXPECT_FALSE(Frame().Enabled(IDC_MORE)) << "a Heron does not list property 68";
    }
    Screenshot(Frame().Window(), L"page-heron");
}

TEST_F(PropertyPageTest, ShowsFallbacksWhenTheDriverDoesNotAnswer) {
    Open(DriverModel::Silent);
    const FilledSlider filled[] = {{2, 0, 1000, 200}, {6, 0, 1000, 200}, {14, 1, 300, 128},
                                   {15, 1, 300, 128}, {16, 1, 300, 128}, {20, 0, 510, 255},
                                   {24, 0, 20, 10},   {28, 0, 20, 10},   {32, 0, 359, 0}};
    // A hidden flip box shows the page's own default.
    ExpectFilled(
        Frame(),
        {filled, L"3000", "flip, colour, correction", {L"0", L"0", L"0", L"0", L"0", L"0"}});
    EXPECT_FALSE(Frame().Visible(IDC_FLIP_H) || Frame().Visible(IDC_FLIP_V));
    EXPECT_FALSE(Frame().Enabled(IDC_EXTRIGGER));
    EXPECT_FALSE(Frame().Enabled(IDC_CLOCK));
    EXPECT_FALSE(Frame().Enabled(IDC_SUBSAMPLE));
    if (!kX64) {
        EXPECT_FALSE(Frame().Enabled(IDC_MORE));
    }
}

TEST_F(PropertyPageTest, OffersTheClockListWhereTheClockIsSelectable) {
    Open(DriverModel::Tern, {{CAMPROP_CLOCK_SELECTABLE, 1}, {CAMPROP_CLOCK, 3}});
    EXPECT_TRUE(Frame().Enabled(IDC_CLOCK));
    EXPECT_EQ((std::vector<std::wstring>{L"24 MHZ", L"12 MHZ", L"48 MHZ", L"40 MHZ", L"20 MHZ",
                                         L"10 MHZ"}),
              Frame().ComboEntries(IDC_CLOCK));
    EXPECT_EQ(3, Frame().ComboSelection(IDC_CLOCK));

    Frame().Press(IDC_CLOCK, VK_DOWN);
    EXPECT_EQ((Sends{{CAMPROP_CLOCK, 4}}), Sent());

    // Every activation builds a fresh dialog and fills its lists once.
    frame_.reset();
    frame_ = std::make_unique<PropertyFrame>(page_);
    EXPECT_EQ(6u, Frame().ComboEntries(IDC_CLOCK).size());
    EXPECT_EQ(4, Frame().ComboSelection(IDC_CLOCK));
}

TEST_F(PropertyPageTest, ListsAsManySubSampleStepsAsTheCameraOffersUpToThree) {
    Open(DriverModel::Heron, {{CAMPROP_SUBSAMPLE_STEPS, 5}});
    EXPECT_EQ((std::vector<std::wstring>{L"Keep origin", L"Skip 2X", L"Skip 4X", L"Skip 8X"}),
              Frame().ComboEntries(IDC_SUBSAMPLE));
}

TEST_F(PropertyPageTest, ShowsTheFullImageAndNoRegionWhileSubSampling) {
    Open(DriverModel::Heron, {{CAMPROP_SUBSAMPLE_STEPS, 3}, {CAMPROP_SUBSAMPLE, 2}});
    EXPECT_EQ(2, Frame().ComboSelection(IDC_SUBSAMPLE));
    EXPECT_EQ((Texts{L"2448", L"2048", L"0", L"0", L"2448", L"2048"}), RegionShown(Frame()));
    for (int id : kRegionInputs)
        EXPECT_FALSE(Frame().Enabled(id)) << id;
    EXPECT_TRUE(Frame().Enabled(IDC_REGION_SET));
}

TEST_F(PropertyPageTest, LocksEveryRegionControlWhileTheRegionIsLocked) {
    Open(DriverModel::Heron, {{CAMPROP_REGION_LOCKED, 1}});
    for (int id : kRegionInputs)
        EXPECT_FALSE(Frame().Enabled(id)) << id;
    EXPECT_FALSE(Frame().Enabled(IDC_SUBSAMPLE));
    EXPECT_FALSE(Frame().Enabled(IDC_REGION_SET));
    EXPECT_FALSE(Frame().Enabled(IDC_REGION_DEFAULT));
}

TEST_F(PropertyPageTest, ShowsAutomaticModesAsTheDriverReportsThem) {
    // A trigger "available" of 2: only exactly 1 offers the trigger.
    Open(DriverModel::Tern, {{CAMPROP_AEC_AVAILABLE, 1},
                             {CAMPROP_AGC_AVAILABLE, 1},
                             {CAMPROP_AEC, 1},
                             {CAMPROP_WHITE_BALANCE, 1},
                             {CAMPROP_EXTRIGGER_AVAILABLE, 2}});
    EXPECT_TRUE(Frame().Enabled(IDC_AUTO_EXPOSURE) && Frame().Checked(IDC_AUTO_EXPOSURE));
    EXPECT_FALSE(Frame().Enabled(IDC_EXPOSURE_SLIDER) || Frame().Enabled(IDC_EXPOSURE_EDIT));
    EXPECT_TRUE(Frame().Enabled(IDC_AUTO_GAIN));
    EXPECT_FALSE(Frame().Checked(IDC_AUTO_GAIN));
    EXPECT_TRUE(Frame().Enabled(IDC_GAIN_SLIDER) && Frame().Enabled(IDC_GAIN_EDIT));
    EXPECT_TRUE(Frame().Checked(IDC_WHITE_BALANCE));
    for (int id : kColorGainControls)
        EXPECT_FALSE(Frame().Enabled(id)) << id;
    EXPECT_FALSE(Frame().Enabled(IDC_EXTRIGGER));
}

// Sliders: trackbar keys, up-down arrows, Enter in the edit box.

// Either moving control of a group moves the other and the edit box, and sends every step.
TEST_F(PropertyPageTest, TrackbarKeysAndUpDownArrowsSendEveryStep) {
    Open(DriverModel::Tern);
    for (const PageSlider& slider : kPageSliders) {
        SCOPED_TRACE(slider.name);
        const LONG start = Frame().TrackbarPosition(slider.trackbar);
        Clear();
        Frame().Press(slider.trackbar, VK_RIGHT, 2);
        // The key-up's end-of-track notification finds the edit already agreeing.
        EXPECT_EQ((Sends{{slider.value, start + 1}, {slider.value, start + 2}}), Sent());
        ExpectShows(slider, start + 2);

        Clear();
        Frame().Press(slider.edit, VK_UP);
        Frame().Press(slider.edit, VK_UP);
        Frame().Press(slider.edit, VK_DOWN);
        EXPECT_EQ((Sends{{slider.value, start + 3},
                         {slider.value, start + 4},
                         {slider.value, start + 3}}),
                  Sent());
        ExpectShows(slider, start + 3);
    }
    EXPECT_EQ(S_FALSE, page_->IsPageDirty()) << "a move reaches the driver at once";
}

TEST_F(PropertyPageTest, TrackbarMovedToTheNumberInItsEditSendsNothing) {
    Open(DriverModel::Tern);
    Frame().Type(IDC_EXPOSURE_EDIT, L"65"); // typed, not committed
    Frame().Press(IDC_EXPOSURE_SLIDER, VK_RIGHT);
    EXPECT_EQ(65, Frame().TrackbarPosition(IDC_EXPOSURE_SLIDER));
    EXPECT_TRUE(Sent().empty());
}

TEST_F(PropertyPageTest, EnterCommitsTheEditClampedToTheDriversRange) {
    Open(DriverModel::Tern);
    for (const PageSlider& slider : kPageSliders) {
        SCOPED_TRACE(slider.name);
        const LONG minimum = filter_->values[slider.minimum];
        const LONG maximum = filter_->values[slider.maximum];

        Clear();
        Frame().Type(slider.edit, L"99999");
        EXPECT_TRUE(Sent().empty()) << "typing alone sends nothing";
        Frame().Press(slider.edit, VK_RETURN);
        EXPECT_EQ((Sends{{slider.value, maximum}}), Sent()) << "one Enter, one request";
        ExpectShows(slider, maximum);
        EXPECT_EQ(Frame().Control(slider.edit), GetFocus());

        Clear();
        Frame().Type(slider.edit, L"0");
        Frame().Press(slider.edit, VK_RETURN);
        EXPECT_EQ((Sends{{slider.value, minimum}}), Sent());
        ExpectShows(slider, minimum);
    }
    // Numbers beyond any range and text that is not a number.
    Clear();
    Frame().Type(IDC_HUE_EDIT, L"99999999999999");
    Frame().Press(IDC_HUE_EDIT, VK_RETURN);
    Frame().Type(IDC_HUE_EDIT, L"x7");
    Frame().Press(IDC_HUE_EDIT, VK_RETURN);
    EXPECT_EQ((Sends{{CAMPROP_HUE, 359}, {CAMPROP_HUE, 0}}), Sent());
    ExpectShows(Slider(CAMPROP_HUE), 0);

    EXPECT_EQ(S_OK, page_->IsPageDirty());
    EXPECT_EQ(static_cast<DWORD>(PROPPAGESTATUS_DIRTY), Frame().StatusReports().back());
}

TEST_F(PropertyPageTest, EnterUsesItsOwnRangeWhenTheDriverDoesNotAnswer) {
    Open(DriverModel::Silent);
    Frame().Type(IDC_EXPOSURE_EDIT, L"5000");
    Frame().Press(IDC_EXPOSURE_EDIT, VK_RETURN);
    ExpectShows(Slider(CAMPROP_EXPOSURE), 1000);
    Frame().Type(IDC_BRIGHTNESS_EDIT, L"0");
    Frame().Press(IDC_BRIGHTNESS_EDIT, VK_RETURN);
    Frame().Type(IDC_RED_EDIT, L"400");
    Frame().Press(IDC_RED_EDIT, VK_RETURN);
    EXPECT_EQ((Sends{{CAMPROP_EXPOSURE, 1000}, {CAMPROP_BRIGHTNESS, 1}, {CAMPROP_RED_GAIN, 400}}),
              Sent());
}

TEST_F(PropertyPageTest, EnterOutsideTheSliderEditsIsLeftToTheFrame) {
    Open(DriverModel::Tern);
    MSG enter = {Frame().Control(IDC_TIMEOUT_EDIT), WM_KEYDOWN, VK_RETURN, 1, 0, {0, 0}};
    SetFocus(Frame().Control(IDC_TIMEOUT_EDIT));
    EXPECT_EQ(E_NOTIMPL, page_->TranslateAccelerator(&enter));
    SetFocus(Frame().Control(IDC_EXPOSURE_EDIT));
    MSG escape = {Frame().Control(IDC_EXPOSURE_EDIT), WM_KEYDOWN, VK_ESCAPE, 1, 0, {0, 0}};
    EXPECT_EQ(E_NOTIMPL, page_->TranslateAccelerator(&escape));
    EXPECT_TRUE(Sent().empty());
}

// Commands.

TEST_F(PropertyPageTest, SwitchesSendTheirStateAtOnce) {
    Open(DriverModel::Tern);
    const struct {
        int control;
        DWORD property;
    } switches[] = {{IDC_FLIP_H, CAMPROP_FLIP_H},
                    {IDC_FLIP_V, CAMPROP_FLIP_V},
                    {IDC_COLOR_ENABLE, CAMPROP_COLOR_ENABLE},
                    {IDC_EXTRIGGER, CAMPROP_EXTRIGGER},
                    {IDC_COLOR_CORRECTION, CAMPROP_COLOR_CORRECTION}};
    for (const auto& s : switches) {
        const LONG before = Frame().Checked(s.control) ? 1 : 0;
        Clear();
        Frame().Click(s.control);
        Frame().Click(s.control);
        EXPECT_EQ((Sends{{s.property, 1 - before}, {s.property, before}}), Sent()) << s.control;
    }
    EXPECT_EQ(S_FALSE, page_->IsPageDirty());
}

TEST_F(PropertyPageTest,
       AutomaticExposureAndGainLockTheirControlsAndReleaseThemWithTheDriversValue) {
    Open(DriverModel::Tern, {{CAMPROP_AEC_AVAILABLE, 1}, {CAMPROP_AGC_AVAILABLE, 1}});
    const struct {
        int check;
        DWORD mode;
        DWORD value;
        int trackbar, edit;
    } modes[] = {
        {IDC_AUTO_EXPOSURE, CAMPROP_AEC, CAMPROP_EXPOSURE, IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT},
        {IDC_AUTO_GAIN, CAMPROP_AGC, CAMPROP_GAIN, IDC_GAIN_SLIDER, IDC_GAIN_EDIT}};
    for (const auto& m : modes) {
        Clear();
        Frame().Click(m.check);
        EXPECT_EQ((Sends{{m.mode, 1}}), Sent());
        EXPECT_FALSE(Frame().Enabled(m.trackbar) || Frame().Enabled(m.edit));

        filter_->values[m.value] = 99; // where the automatic mode left it
        Clear();
        Frame().Click(m.check);
        EXPECT_EQ((Sends{{m.mode, 0}}), Sent());
        EXPECT_TRUE(Frame().Enabled(m.trackbar) && Frame().Enabled(m.edit));
        ExpectShows(Slider(m.value), 99);
    }
}

TEST_F(PropertyPageTest, ClearingAutomaticWhiteBalanceShowsTheGainsItFound) {
    Open(DriverModel::Tern);
    Frame().Click(IDC_WHITE_BALANCE);
    EXPECT_EQ((Sends{{CAMPROP_WHITE_BALANCE, 1}}), Sent());
    for (int id : kColorGainControls)
        EXPECT_FALSE(Frame().Enabled(id)) << id;

    filter_->values[CAMPROP_RED_GAIN] = 140;
    filter_->values[CAMPROP_GREEN_GAIN] = 150;
    filter_->values[CAMPROP_BLUE_GAIN] = 160;
    Clear();
    Frame().Click(IDC_WHITE_BALANCE);
    EXPECT_EQ((Sends{{CAMPROP_WHITE_BALANCE, 0}}), Sent());
    for (int id : kColorGainControls)
        EXPECT_TRUE(Frame().Enabled(id)) << id;
    ExpectShows(Slider(CAMPROP_RED_GAIN), 140);
    ExpectShows(Slider(CAMPROP_GREEN_GAIN), 150);
    ExpectShows(Slider(CAMPROP_BLUE_GAIN), 160);
}

TEST_F(PropertyPageTest, ColourDefaultRestoresAndSendsTheDriversDefaults) {
    Open(DriverModel::Tern, {{CAMPROP_BRIGHTNESS_DEFAULT, 250},
                             {CAMPROP_CONTRAST_DEFAULT, 9},
                             {CAMPROP_SATURATION_DEFAULT, 8},
                             {CAMPROP_HUE_DEFAULT, 7}});
    Frame().Click(IDC_COLOR_DEFAULT);
    EXPECT_EQ((Sends{{CAMPROP_BRIGHTNESS, 250},
                     {CAMPROP_CONTRAST, 9},
                     {CAMPROP_SATURATION, 8},
                     {CAMPROP_HUE, 7}}),
              Sent());
    ExpectShows(Slider(CAMPROP_BRIGHTNESS), 250);
    ExpectShows(Slider(CAMPROP_CONTRAST), 9);
    ExpectShows(Slider(CAMPROP_SATURATION), 8);
    ExpectShows(Slider(CAMPROP_HUE), 7);
}

TEST_F(PropertyPageTest, TimeoutSetSendsOnlyValuesFrom501To9999) {
    Open(DriverModel::Tern);
    for (const wchar_t* text : {L"500", L"501", L"9999", L"10000", L"abc"}) {
        Frame().Type(IDC_TIMEOUT_EDIT, text);
        Frame().Click(IDC_TIMEOUT_SET);
    }
    EXPECT_EQ((Sends{{CAMPROP_TIMEOUT, 501}, {CAMPROP_TIMEOUT, 9999}}), Sent());
    EXPECT_EQ(S_OK, page_->IsPageDirty()) << "typing a timeout marks the page";
}

// The region.

struct SentRegion {
    LONG subSample, x, y, width, height;
    bool operator==(const SentRegion& o) const {
        return subSample == o.subSample && x == o.x && y == o.y && width == o.width &&
               height == o.height;
    }
};

void PrintTo(const SentRegion& r, std::ostream* out) {
    *out << "sub-sample " << r.subSample << ", x " << r.x << ", y " << r.y << ", " << r.width
         << " x " << r.height;
}

class RegionTest : public PageTest {
protected:
    // A camera with a 640 x 480 sensor, as a Heron reports it.
    void SetUp() override {
        Open(DriverModel::Heron, {{CAMPROP_SENSOR_WIDTH, 640},
                                  {CAMPROP_SENSOR_HEIGHT, 480},
                                  {CAMPROP_ROI_X, 0},
                                  {CAMPROP_ROI_Y, 0},
                                  {CAMPROP_ROI_WIDTH, 640},
                                  {CAMPROP_ROI_HEIGHT, 480}});
    }

    using Region = SentRegion;
    std::vector<Region> RegionsSent() const {
        std::vector<Region> regions;
        for (const PropertyCall& call : filter_->calls) {
            if (call.set && call.id == CAMPROP_REGION && call.record.size() == 48)
                regions.push_back({call.Field(24), call.Field(28), call.Field(32), call.Field(36),
                                   call.Field(40)});
        }
        return regions;
    }
    Region SetRegion(const wchar_t* x, const wchar_t* y, const wchar_t* width,
                     const wchar_t* height) {
        TypeRegion(Frame(), x, y, width, height);
        Clear();
        Frame().Click(IDC_REGION_SET);
        const std::vector<Region> regions = RegionsSent();
        EXPECT_EQ(1u, regions.size());
        EXPECT_EQ(1u, filter_->calls.size()) << "Set sends the region and nothing else";
        return regions.empty() ? Region{-1, -1, -1, -1, -1} : regions[0];
    }
};

TEST_F(RegionTest, SetCorrectsTheRegionToFitTheImage) {
    // An origin with no room left for 32 pixels starts at the corner again.
    EXPECT_EQ((Region{0, 0, 0, 100, 100}), SetRegion(L"620", L"460", L"100", L"100"));
    // A region reaching past the edge is cut at it.
    EXPECT_EQ((Region{0, 600, 400, 40, 80}), SetRegion(L"600", L"400", L"100", L"100"));
    // Regions smaller than 32 pixels grow to 32.
    EXPECT_EQ((Region{0, 10, 20, 32, 32}), SetRegion(L"10", L"20", L"5", L"0"));
    // Whatever was typed stays in the boxes.
    EXPECT_EQ(L"5", Frame().Text(IDC_ROI_W));
    EXPECT_EQ(L"0", Frame().Text(IDC_ROI_H));
    // Numbers too large for any image.
    EXPECT_EQ((Region{0, 0, 0, 640, 480}),
              SetRegion(L"99999999999", L"4294967295", L"99999999999", L"4294967295"));
}

TEST_F(RegionTest, SetSendsTheSelectedSubSampling) {
    Frame().Press(IDC_SUBSAMPLE, VK_DOWN);
    EXPECT_EQ(1, Frame().ComboSelection(IDC_SUBSAMPLE));
    for (int id : kRegionInputs)
        EXPECT_FALSE(Frame().Enabled(id)) << id;
    EXPECT_TRUE(Sent().empty()) << "nothing goes out before Set";

    Clear();
    Frame().Click(IDC_REGION_SET);
    ASSERT_EQ(1u, RegionsSent().size());
    EXPECT_EQ(1, RegionsSent()[0].subSample);

    Frame().Press(IDC_SUBSAMPLE, VK_UP);
    for (int id : kRegionInputs)
        EXPECT_TRUE(Frame().Enabled(id)) << id;
}

TEST_F(RegionTest, DefaultResetsTheFullImage) {
    Frame().Press(IDC_SUBSAMPLE, VK_DOWN);
    Frame().Type(IDC_ROI_X, L"10");
    Clear();
    Frame().Click(IDC_REGION_DEFAULT);
    EXPECT_EQ((std::vector<SentRegion>{{0, 0, 0, 640, 480}}), RegionsSent());
    EXPECT_EQ(0, Frame().ComboSelection(IDC_SUBSAMPLE));
    const wchar_t* shown[] = {L"0", L"0", L"640", L"480"};
    const int edits[] = {IDC_ROI_X, IDC_ROI_Y, IDC_ROI_W, IDC_ROI_H};
    const int upDowns[] = {IDC_ROI_X_SPIN, IDC_ROI_Y_SPIN, IDC_ROI_W_SPIN, IDC_ROI_H_SPIN};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(shown[i], Frame().Text(edits[i]));
        EXPECT_EQ(std::stol(shown[i]), Frame().UpDownPosition(upDowns[i]));
    }
    for (int id : kRegionInputs)
        EXPECT_TRUE(Frame().Enabled(id)) << id;
}

TEST_F(RegionTest, TypingMovesTheUpDownWithinTheImageAndMarksThePage) {
    Frame().Type(IDC_ROI_X, L"100");
    EXPECT_EQ(100, Frame().UpDownPosition(IDC_ROI_X_SPIN));
    EXPECT_EQ(S_OK, page_->IsPageDirty());

    Frame().Append(IDC_ROI_X, L"0"); // 1000: x must stay below the width
    EXPECT_EQ(100, Frame().UpDownPosition(IDC_ROI_X_SPIN));
    Frame().Type(IDC_ROI_W, L"640"); // the width may reach it
    EXPECT_EQ(640, Frame().UpDownPosition(IDC_ROI_W_SPIN));
    Frame().Append(IDC_ROI_H, L"1"); // 4801
    EXPECT_EQ(480, Frame().UpDownPosition(IDC_ROI_H_SPIN));
    EXPECT_TRUE(Sent().empty());
}

TEST_F(RegionTest, UpDownArrowsEditTheBoxesAndSendNothing) {
    Frame().Press(IDC_ROI_Y, VK_UP, 3);
    EXPECT_EQ(L"3", Frame().Text(IDC_ROI_Y));
    Frame().Press(IDC_ROI_W, VK_DOWN);
    EXPECT_EQ(L"639", Frame().Text(IDC_ROI_W));
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(S_OK, page_->IsPageDirty());
}

// Apply and the dirty state.

TEST_F(PropertyPageTest, ApplySendsNothingAndLeavesThePageClean) {
    Open(DriverModel::Tern);
    EXPECT_EQ(S_OK, page_->Apply()) << "a clean page has nothing to apply";
    EXPECT_TRUE(Frame().StatusReports().empty());

    Frame().Type(IDC_GAIN_EDIT, L"600");
    Frame().Press(IDC_GAIN_EDIT, VK_RETURN);
    ASSERT_EQ(S_OK, page_->IsPageDirty());
    Clear();
    EXPECT_EQ(S_OK, page_->Apply());
    EXPECT_TRUE(filter_->calls.empty()) << "Apply sends no property";
    EXPECT_EQ(S_FALSE, page_->IsPageDirty());
    EXPECT_EQ(static_cast<DWORD>(PROPPAGESTATUS_VALIDATE), Frame().StatusReports().back());
}

TEST_F(PropertyPageTest, PageWithoutAFilterShowsFallbacksAndIgnoresInput) {
    Ref<IClassFactory> factory(ClassFactory(CLSID_OculixZYNPropertyPage));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IPropertyPage,
                                            reinterpret_cast<void**>(&page_)));
    frame_ = std::make_unique<PropertyFrame>(page_);
    ExpectShows(Slider(CAMPROP_EXPOSURE), 200);
    Frame().Press(IDC_EXPOSURE_SLIDER, VK_RIGHT);
    Frame().Click(IDC_COLOR_DEFAULT);
    Frame().Click(IDC_REGION_SET);
    Frame().Type(IDC_EXPOSURE_EDIT, L"5");
    Frame().Press(IDC_EXPOSURE_EDIT, VK_RETURN);
    EXPECT_EQ(L"5", Frame().Text(IDC_EXPOSURE_EDIT)) << "no commit without a filter";
    EXPECT_EQ(S_FALSE, page_->IsPageDirty());
}

} // namespace
} // namespace zyn::test
