// A property page connected to a fake filter and shown in a property frame.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "plugin/class_ids.h"
#include "plugin/resource_ids.h"
#include "tests/plugin/fake_filter.h"
#include "tests/plugin/plugin_module.h"
#include "tests/plugin/property_frame.h"

namespace zyn::test {

// The page's trackbar, edit and up-down groups with the properties they show.
struct PageSlider {
    const char* name;
    int trackbar, edit, upDown;
    DWORD value, minimum, maximum;
};

inline const PageSlider kPageSliders[] = {
    {"exposure", IDC_EXPOSURE_SLIDER, IDC_EXPOSURE_EDIT, IDC_EXPOSURE_SPIN, 2, 3, 4},
    {"gain", IDC_GAIN_SLIDER, IDC_GAIN_EDIT, IDC_GAIN_SPIN, 6, 7, 8},
    {"red", IDC_RED_SLIDER, IDC_RED_EDIT, IDC_RED_SPIN, 14, 17, 18},
    {"green", IDC_GREEN_SLIDER, IDC_GREEN_EDIT, IDC_GREEN_SPIN, 15, 17, 18},
    {"blue", IDC_BLUE_SLIDER, IDC_BLUE_EDIT, IDC_BLUE_SPIN, 16, 17, 18},
    {"brightness", IDC_BRIGHTNESS_SLIDER, IDC_BRIGHTNESS_EDIT, IDC_BRIGHTNESS_SPIN, 20, 21, 22},
    {"contrast", IDC_CONTRAST_SLIDER, IDC_CONTRAST_EDIT, IDC_CONTRAST_SPIN, 24, 25, 26},
    {"saturation", IDC_SATURATION_SLIDER, IDC_SATURATION_EDIT, IDC_SATURATION_SPIN, 28, 29, 30},
    {"hue", IDC_HUE_SLIDER, IDC_HUE_EDIT, IDC_HUE_SPIN, 32, 33, 34},
};

// The group that shows the property `value`.
inline const PageSlider& Slider(DWORD value) {
    for (const PageSlider& slider : kPageSliders) {
        if (slider.value == value)
            return slider;
    }
    return kPageSliders[0];
}

// The three controls of the group all show `value`.
inline void ExpectShows(PropertyFrame& frame, const PageSlider& slider, LONG value) {
    SCOPED_TRACE(slider.name);
    EXPECT_EQ(value, frame.TrackbarPosition(slider.trackbar));
    EXPECT_EQ(std::to_wstring(value), frame.Text(slider.edit));
    EXPECT_EQ(value, frame.UpDownPosition(slider.upDown));
}

// The trackbar and the up-down of the group both span `minimum` to `maximum`.
inline void ExpectRange(PropertyFrame& frame, const PageSlider& slider, LONG minimum,
                        LONG maximum) {
    SCOPED_TRACE(slider.name);
    EXPECT_EQ(minimum, frame.TrackbarMinimum(slider.trackbar));
    EXPECT_EQ(maximum, frame.TrackbarMaximum(slider.trackbar));
    LONG upDownMinimum = 0, upDownMaximum = 0;
    frame.UpDownRange(slider.upDown, &upDownMinimum, &upDownMaximum);
    EXPECT_EQ(minimum, upDownMinimum);
    EXPECT_EQ(maximum, upDownMaximum);
}

// What the group of one property shows after filling: its range and its value.
struct FilledSlider {
    DWORD property;
    LONG minimum, maximum, value;
};

// The check boxes of the page that are checked, named and in the page's order.
inline std::string CheckedBoxes(PropertyFrame& frame) {
    const std::pair<int, const char*> boxes[] = {{IDC_EXTRIGGER, "trigger"},
                                                 {IDC_FLIP_H, "mirror"},
                                                 {IDC_FLIP_V, "flip"},
                                                 {IDC_COLOR_ENABLE, "colour"},
                                                 {IDC_WHITE_BALANCE, "balance"},
                                                 {IDC_COLOR_CORRECTION, "correction"},
                                                 {IDC_AUTO_EXPOSURE, "auto exposure"},
                                                 {IDC_AUTO_GAIN, "auto gain"}};
    std::string checked;
    for (const auto& [id, name] : boxes) {
        if (frame.Checked(id))
            checked += checked.empty() ? name : std::string(", ") + name;
    }
    return checked;
}

using Texts = std::vector<std::wstring>;

// The region's boxes: the full width and height, then x, y, width and height.
inline Texts RegionShown(PropertyFrame& frame) {
    Texts shown;
    for (int id : {IDC_FULL_WIDTH, IDC_FULL_HEIGHT, IDC_ROI_X, IDC_ROI_Y, IDC_ROI_W, IDC_ROI_H})
        shown.push_back(frame.Text(id));
    return shown;
}

// Types a region into its four boxes, as the user would before pressing Set.
inline void TypeRegion(PropertyFrame& frame, const wchar_t* x, const wchar_t* y,
                       const wchar_t* width, const wchar_t* height) {
    frame.Type(IDC_ROI_X, x);
    frame.Type(IDC_ROI_Y, y);
    frame.Type(IDC_ROI_W, width);
    frame.Type(IDC_ROI_H, height);
}

// What filling shows: every slider, the timeout, the checked boxes and the region's boxes.
struct FilledPage {
    std::span<const FilledSlider> sliders;
    std::wstring timeout;
    std::string checked;
    Texts region;
};

inline void ExpectFilled(PropertyFrame& frame, const FilledPage& page) {
    for (const FilledSlider& filled : page.sliders) {
        ExpectRange(frame, Slider(filled.property), filled.minimum, filled.maximum);
        ExpectShows(frame, Slider(filled.property), filled.value);
    }
    EXPECT_EQ(page.timeout, frame.Text(IDC_TIMEOUT_EDIT));
    EXPECT_EQ(page.checked, CheckedBoxes(frame));
    EXPECT_EQ(page.region, RegionShown(frame));
}

// A new property page with `filter` as its one object, one reference for the caller; null,
// with the test failed, when the plug-in refuses.
inline IPropertyPage* ConnectedPage(IUnknown* filter) {
    Ref<IClassFactory> factory(ClassFactory(CLSID_OculixZYNPropertyPage));
    IPropertyPage* page = nullptr;
    if (!factory || factory->CreateInstance(nullptr, IID_IPropertyPage,
                                            reinterpret_cast<void**>(&page)) != S_OK) {
        ADD_FAILURE() << "no property page";
        return nullptr;
    }
    if (page->SetObjects(1, &filter) != S_OK) {
        ADD_FAILURE() << "the page refused the filter";
        page->Release();
        return nullptr;
    }
    return page;
}

using Sends = std::vector<std::pair<DWORD, LONG>>;

class PageTest : public testing::Test {
protected:
    // Builds a filter whose driver answers like `model` but with `values`, a page connected to
    // it and a frame showing the page. The calls of the filling are cleared.
    void Open(DriverModel model, const std::map<DWORD, LONG>& values = {}) {
        filter_ = FakeFilter::Create(model);
        ASSERT_EQ(S_OK, filter_->AggregateExtension());
        for (const auto& [id, value] : values)
            filter_->values[id] = value;
        page_ = ConnectedPage(filter_->Unknown());
        ASSERT_NE(page_, nullptr);
        frame_ = std::make_unique<PropertyFrame>(page_);
        sendsWhileFilling_ = filter_->Sets();
        filter_->ClearCalls();
    }

    void TearDown() override {
        frame_.reset();
        if (page_) {
            page_->SetObjects(0, nullptr);
            page_->Release();
        }
        if (filter_)
            filter_->Release();
        EXPECT_EQ(S_OK, Plugin().canUnloadNow()) << "the page or the extension object leaked";
    }

    PropertyFrame& Frame() { return *frame_; }
    Sends Sent() const { return filter_->Sets(); }
    void Clear() { filter_->ClearCalls(); }
    void ExpectShows(const PageSlider& slider, LONG value) {
        test::ExpectShows(Frame(), slider, value);
    }
    void ExpectRange(const PageSlider& slider, LONG minimum, LONG maximum) {
        test::ExpectRange(Frame(), slider, minimum, maximum);
    }

    FakeFilter* filter_ = nullptr;
    IPropertyPage* page_ = nullptr;
    std::unique_ptr<PropertyFrame> frame_;
    Sends sendsWhileFilling_;
};

} // namespace zyn::test
