// The plug-in in front of the real driver: the property page and the extension object in a
// kernel streaming proxy whose property requests reach the Tern driver on the simulated PC, with
// an emulated Tern camera behind it. What a person does on the page must arrive in the camera's
// registers, and what the camera's driver holds must be what the page shows.
#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "plugin/class_ids.h"
#include "plugin/resource_ids.h"
#include "tests/plugin/fake_filter.h"
#include "tests/plugin/ks_proxy.h"
#include "tests/plugin/page_fixture.h"
#include "tests/plugin/plugin_module.h"
#include "tests/plugin/property_frame.h"
#include "tests/plugin/screenshot.h"
#include "tests/plugin/simulated_pc/simulated_pc.h"

namespace zyn::test {
namespace {

// Tern sensor registers of the exposure: normal mode keeps the value's low and high six bits
// twice, long mode counts steps past 1067 in register 155.
constexpr uint32_t kExposureLow = 158, kExposureHigh = 159;
constexpr uint32_t kExposureLowCopy = 161, kExposureHighCopy = 162;
constexpr uint32_t kLongMode = 154, kLongSteps = 155;
constexpr uint32_t kGainLow = 6, kGainHigh = 7;

const int kRegionControls[] = {IDC_SUBSAMPLE,  IDC_ROI_X,      IDC_ROI_Y,         IDC_ROI_W,
                               IDC_ROI_H,      IDC_ROI_X_SPIN, IDC_ROI_Y_SPIN,    IDC_ROI_W_SPIN,
                               IDC_ROI_H_SPIN, IDC_REGION_SET, IDC_REGION_DEFAULT};

class EndToEndTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, ZynSimOpen()) << "the simulated PC did not bring the camera's filter up";
        proxy_ = KsProxy::Create();
        ASSERT_EQ(S_OK, proxy_->AggregateExtension());
        *config_.Out() = proxy_->Config();
        ASSERT_TRUE(config_);
    }

    void TearDown() override {
        ClosePage();
        config_.Reset();
        if (proxy_)
            proxy_->Release();
        proxy_ = nullptr;
        ZynSimClose();
        char failures[8192];
        EXPECT_EQ(0u, ZynSimVerifierFailures(failures, sizeof failures))
            << "the simulated platform reported:\n"
            << failures;
        EXPECT_EQ(S_OK, Plugin().canUnloadNow()) << "the page or the extension object leaked";
    }

    // The page, connected to the proxy's filter and activated in a property frame.
    void ShowPage() {
        page_ = ConnectedPage(proxy_->Unknown());
        ASSERT_NE(page_, nullptr);
        frame_ = std::make_unique<PropertyFrame>(page_);
    }
    void ClosePage() {
        frame_.reset();
        if (page_) {
            page_->SetObjects(0, nullptr);
            page_->Release();
        }
        page_ = nullptr;
    }
    PropertyFrame& Frame() { return *frame_; }

    static ZynSimSettings Driver() {
        ZynSimSettings settings{};
        EXPECT_TRUE(ZynSimSettingsNow(&settings)) << "no camera device";
        return settings;
    }
    static uint32_t Sensor(uint32_t index) { return ZynSimSensorRegister(index); }
    // How often each register was written since the command log was cleared.
    static size_t WritesTo(uint32_t index) {
        std::vector<ZynSimSensorWrite> writes(ZynSimSensorWrites(nullptr, 0));
        ZynSimSensorWrites(writes.data(), static_cast<uint32_t>(writes.size()));
        return static_cast<size_t>(
            std::count_if(writes.begin(), writes.end(), [index](const ZynSimSensorWrite& write) {
                return write.index == index;
            }));
    }
    // The sensor's exposure registers hold `exposure` in normal mode.
    static void ExpectNormalExposure(LONG exposure) {
        SCOPED_TRACE("exposure " + std::to_string(exposure));
        EXPECT_EQ(0u, Sensor(kLongMode));
        EXPECT_EQ(static_cast<uint32_t>(exposure & 0x3F), Sensor(kExposureLow));
        EXPECT_EQ(static_cast<uint32_t>(exposure >> 6 & 0x3F), Sensor(kExposureHigh));
        EXPECT_EQ(static_cast<uint32_t>(exposure & 0x3F), Sensor(kExposureLowCopy));
        EXPECT_EQ(static_cast<uint32_t>(exposure >> 6 & 0x3F), Sensor(kExposureHighCopy));
        EXPECT_EQ(exposure, Driver().Exposure);
    }
    static void ExpectCaptureSize(LONG width, LONG height) {
        int32_t offeredWidth = 0, offeredHeight = 0;
        ASSERT_EQ(0, ZynSimCaptureSize(&offeredWidth, &offeredHeight));
        EXPECT_EQ(width, offeredWidth);
        EXPECT_EQ(height, offeredHeight);
    }
    // Types the region into its boxes and presses Set.
    void SetRegion(const wchar_t* x, const wchar_t* y, const wchar_t* width,
                   const wchar_t* height) {
        TypeRegion(Frame(), x, y, width, height);
        Frame().Click(IDC_REGION_SET);
    }
    // A person drags the trackbar's thumb with the mouse `pixels` to the right, a few pixels
    // at a time, and lets go.
    void DragThumb(int trackbar, int pixels) {
        const HWND control = Frame().Control(trackbar);
        RECT thumb{};
        SendMessageW(control, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        const int y = (thumb.top + thumb.bottom) / 2;
        int x = (thumb.left + thumb.right) / 2;
        PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        Frame().Pump();
        for (int moved = 0; moved < pixels; moved += 4) {
            x += 4;
            PostMessageW(control, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
            Frame().Pump();
        }
        PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        Frame().Pump();
    }

    KsProxy* proxy_ = nullptr;
    Ref<IOculixZYNDSConfig> config_;
    IPropertyPage* page_ = nullptr;
    std::unique_ptr<PropertyFrame> frame_;
};

TEST_F(EndToEndTest, ThePageShowsWhatTheCamerasDriverHolds) {
    // An application changed a few settings before the page was opened.
    ASSERT_EQ(S_OK, config_->SetProperty(CAMPROP_EXPOSURE, 700));
    ASSERT_EQ(S_OK, config_->SetProperty(CAMPROP_GAIN, 300));
    ASSERT_EQ(S_OK, config_->SetProperty(CAMPROP_RED_GAIN, 200));
    ASSERT_EQ(S_OK, config_->SetProperty(CAMPROP_HUE, 45));
    ASSERT_EQ(S_OK, config_->SetProperty(CAMPROP_FLIP_V, 1));
    ASSERT_EQ(S_OK, config_->SetProperty(CAMPROP_TIMEOUT, 1500));
    ExpectNormalExposure(700);
    proxy_->sets.clear();

    ShowPage();
    ASSERT_NO_FATAL_FAILURE();
    EXPECT_TRUE(proxy_->sets.empty()) << "filling the page changes nothing";

    // Each slider's range and value as the driver holds them.
    const FilledSlider filled[] = {
        {CAMPROP_EXPOSURE, 8, 1074, 700}, {CAMPROP_GAIN, 0, 1023, 300},
        {CAMPROP_RED_GAIN, 1, 512, 200},  {CAMPROP_GREEN_GAIN, 1, 512, 128},
        {CAMPROP_BLUE_GAIN, 1, 512, 128}, {CAMPROP_BRIGHTNESS, 0, 510, 255},
        {CAMPROP_CONTRAST, 0, 20, 10},    {CAMPROP_SATURATION, 0, 20, 10},
        {CAMPROP_HUE, 0, 359, 45},
    };
    // Then the timeout, the check boxes, the full sensor and the region as the Tern reports it:
    // always the whole window.
    ExpectFilled(Frame(), {filled,
                           L"1500",
                           "flip, colour, correction",
                           {L"1360", L"1024", L"0", L"0", L"1360", L"1024"}});
    EXPECT_TRUE(Frame().Enabled(IDC_EXTRIGGER));
    EXPECT_FALSE(Frame().Enabled(IDC_AUTO_EXPOSURE));
    EXPECT_FALSE(Frame().Enabled(IDC_CLOCK)) << "the Tern's clock is the camera's";
    EXPECT_FALSE(Frame().Enabled(IDC_SUBSAMPLE)) << "the Tern does not sub-sample";
    EXPECT_TRUE(Frame().Enabled(IDC_REGION_SET));

    Screenshot(Frame().Window(), L"page-emulated-tern");
}

TEST_F(EndToEndTest, TheExposureTrackbarProgramsTheSensorInNormalAndLongMode) {
    ShowPage();
    ASSERT_NO_FATAL_FAILURE();
    const PageSlider& exposure = Slider(CAMPROP_EXPOSURE);
    ExpectNormalExposure(8); // the registry's default, applied when the device started

    Frame().Press(exposure.trackbar, VK_RIGHT, 2);
    ExpectNormalExposure(10);
    Frame().Press(exposure.trackbar, VK_NEXT); // a page to the right
    const LONG paged = Frame().TrackbarPosition(exposure.trackbar);
    EXPECT_GT(paged, 10);
    ExpectNormalExposure(paged);

    // Past 1068 the sensor switches to long mode once, then counts steps in register 155.
    Frame().Press(exposure.trackbar, VK_END);
    EXPECT_EQ(1u, Sensor(kLongMode));
    EXPECT_EQ(7u, Sensor(kLongSteps));
    EXPECT_EQ(7u, Sensor(kExposureLow));
    EXPECT_EQ(0u, Sensor(kExposureHigh));
    EXPECT_EQ(7u, Sensor(kExposureLowCopy));
    EXPECT_EQ(1074, Driver().Exposure);

    ZynSimClearCommandLog();
    Frame().Press(exposure.trackbar, VK_LEFT, 5);
    EXPECT_EQ(2u, Sensor(kLongSteps));
    EXPECT_EQ(1069, Driver().Exposure);
    EXPECT_EQ(5u, WritesTo(kLongSteps));
    EXPECT_EQ(0u, WritesTo(kLongMode)) << "the sensor was in long mode already";

    // 1068 is the longest normal exposure: back to normal mode, 1068 = 16 * 64 + 44.
    Frame().Press(exposure.trackbar, VK_LEFT);
    ExpectNormalExposure(1068);
    EXPECT_EQ(44u, Sensor(kExposureLow));
    EXPECT_EQ(16u, Sensor(kExposureHigh));
    ExpectShows(Frame(), exposure, 1068);

    // Each position reached the driver once, as the page sent it.
    std::vector<LONG> sent;
    for (const auto& [id, value] : proxy_->sets) {
        EXPECT_EQ(static_cast<DWORD>(CAMPROP_EXPOSURE), id);
        sent.push_back(value);
    }
    ASSERT_EQ(10u, sent.size());
    EXPECT_EQ((std::vector<LONG>{9, 10, paged, 1074, 1073, 1072, 1071, 1070, 1069, 1068}), sent);

    // The driver keeps what the page set: closing the camera stores it.
    ClosePage();
    config_.Reset();
    proxy_->Release();
    proxy_ = nullptr;
    ZynSimClose();
    uint32_t stored = 0;
    ASSERT_TRUE(ZynSimStoredSetting("Exposure", &stored));
    EXPECT_EQ(1068u, stored);
}

TEST_F(EndToEndTest, DraggingTheExposureThumbSendsEveryPositionAndTheSensorFollows) {
    ShowPage();
    ASSERT_NO_FATAL_FAILURE();
    const PageSlider& exposure = Slider(CAMPROP_EXPOSURE);
    DragThumb(exposure.trackbar, 40);

    const LONG position = Frame().TrackbarPosition(exposure.trackbar);
    EXPECT_GT(position, 8) << "the thumb did not move";
    ExpectShows(Frame(), exposure, position);
    ExpectNormalExposure(position);
    ASSERT_FALSE(proxy_->sets.empty());
    EXPECT_GT(proxy_->sets.size(), 2u) << "every position on the way is sent";
    EXPECT_EQ(position, proxy_->sets.back().second);
    for (size_t i = 1; i < proxy_->sets.size(); ++i) {
        EXPECT_NE(proxy_->sets[i - 1].second, proxy_->sets[i].second) << "a position sent twice";
    }
}

TEST_F(EndToEndTest, GainChangesReachRegisters6And7) {
    ShowPage();
    ASSERT_NO_FATAL_FAILURE();
    const PageSlider& gain = Slider(CAMPROP_GAIN);

    Frame().Type(gain.edit, L"700");
    EXPECT_EQ(0, Driver().GlobalGain) << "typing alone sends nothing";
    Frame().Press(gain.edit, VK_RETURN);
    EXPECT_EQ(700, Driver().GlobalGain);
    EXPECT_EQ(700u & 0x3F, Sensor(kGainLow));
    EXPECT_EQ(700u >> 6, Sensor(kGainHigh));
    ExpectShows(Frame(), gain, 700);

    Frame().Press(gain.edit, VK_UP);
    EXPECT_EQ(701, Driver().GlobalGain);
    EXPECT_EQ(701u & 0x3F, Sensor(kGainLow));

    // Beyond the driver's maximum the page holds the value at 1023 before it is sent.
    Frame().Type(gain.edit, L"4000");
    Frame().Press(gain.edit, VK_RETURN);
    EXPECT_EQ(L"1023", Frame().Text(gain.edit));
    EXPECT_EQ(1023, Driver().GlobalGain);
    EXPECT_EQ(63u, Sensor(kGainLow));
    EXPECT_EQ(15u, Sensor(kGainHigh));
}

TEST_F(EndToEndTest, TheRegionIsCorrectedByThePageThenByTheDriver) {
    ShowPage();
    ASSERT_NO_FATAL_FAILURE();

    // No room for 32 pixels right of x 1340: the page starts at the left edge, and raises the
    // width and height to 32.
    SetRegion(L"1340", L"8", L"20", L"0");
    ZynSimSettings driver = Driver();
    EXPECT_EQ(0, driver.RoiX);
    EXPECT_EQ(8, driver.RoiY);
    EXPECT_EQ(32, driver.RoiW);
    EXPECT_EQ(32, driver.RoiH);
    ExpectCaptureSize(32, 32);

    // The page cuts the region at the image's edge; the driver puts the origin on an even
    // pixel, cuts again, and delivers a width that is a multiple of 8.
    SetRegion(L"1001", L"3", L"1360", L"1024");
    driver = Driver();
    EXPECT_EQ(1002, driver.RoiX);
    EXPECT_EQ(4, driver.RoiY);
    EXPECT_EQ(358, driver.RoiW);
    EXPECT_EQ(1020, driver.RoiH);
    EXPECT_EQ(352, driver.OutputWidth);
    ExpectCaptureSize(352, 1020);

    // A number outside the image moves no up-down and leaves the page clean.
    Frame().Type(IDC_ROI_X, L"900");
    EXPECT_EQ(S_OK, page_->Apply());
    Frame().Append(IDC_ROI_X, L"0");
    EXPECT_EQ(900, Frame().UpDownPosition(IDC_ROI_X_SPIN));
    EXPECT_EQ(S_FALSE, page_->IsPageDirty());

    Frame().Click(IDC_REGION_DEFAULT);
    driver = Driver();
    EXPECT_EQ(0, driver.RoiX);
    EXPECT_EQ(1360, driver.RoiW);
    EXPECT_EQ(1024, driver.RoiH);
    ExpectCaptureSize(1360, 1024);
}

TEST_F(EndToEndTest, WhileTheCameraCapturesTheRegionIsLockedOnThePageAndInTheDriver) {
    ASSERT_EQ(0, ZynSimOpenPin());
    ShowPage();
    ASSERT_NO_FATAL_FAILURE();
    for (int id : kRegionControls)
        EXPECT_FALSE(Frame().Enabled(id)) << "region control " << id;

    // An application that tries anyway is answered, and nothing changes.
    EXPECT_EQ(S_OK, config_->SetRegion(0, 16, 16, 640, 480));
    const ZynSimSettings driver = Driver();
    EXPECT_EQ(1, driver.PinOpen);
    EXPECT_EQ(0, driver.RoiX);
    EXPECT_EQ(1360, driver.RoiW);
    ExpectCaptureSize(1360, 1024);

    // Once the pin is gone, a fresh page offers the region again.
    ClosePage();
    ZynSimClosePin();
    ShowPage();
    ASSERT_NO_FATAL_FAILURE();
    EXPECT_TRUE(Frame().Enabled(IDC_REGION_SET));
    EXPECT_TRUE(Frame().Enabled(IDC_ROI_X));
}

TEST_F(EndToEndTest, TheDriversRefusalsReachTheApplicationAsWin32Errors) {
    // An id the Tern does not list: kernel streaming answers STATUS_NOT_FOUND.
    LONG value = -7;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), config_->GetProperty(CAMPROP_DOT, &value));
    EXPECT_EQ(-7, value) << "a failed read leaves the caller's value";
    // A sensor register the Tern does not have: the driver's own STATUS_UNSUCCESSFUL.
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_GEN_FAILURE),
              config_->SetProperty(CAMPROP_SENSOR_REGISTER, 1024));

    // The plug-in validates nothing; the driver clamps.
    EXPECT_EQ(S_OK, config_->SetProperty(CAMPROP_EXPOSURE, 5000));
    EXPECT_EQ(S_OK, config_->GetProperty(CAMPROP_EXPOSURE, &value));
    EXPECT_EQ(1074, value);
    EXPECT_EQ(7u, Sensor(kLongSteps));
}

} // namespace
} // namespace zyn::test
