// The Tern driver image: its descriptors and data range, and the device's Plug and Play life
// with the object bags and the settings saved at filter close and device stop.
#include <gtest/gtest.h>

#include "driver/core/capture_offer.h"
#include "driver/core/data_range.h"
#include "sim/ks/object_bag.h"
#include "driver/models/tern/tern_driver.h"
#include "tests/support/driver_fixture.h"

namespace tern_test {
namespace {

// The stored range of each model's image, as the image ships it.
TEST(StoredDataRange, HoldsEachModelsFullSensorWithTheWrappedBitRates) {
    struct Expected {
        LONG width, height;
        ULONG imageBytes;
        ULONG bitsPerSecond; // as the 32-bit field holds it
        ULONG bitRate;
    };
    const Expected models[] = {
        {1360, 1024, 5570560, 1336934400u, 167116800u},
        {2448, 2048, 20054016, 517996544u, 601620480u},
        {1328, 1048, 5566976, 1336074240u, 167009280u},
        {2048, 1536, 12582912, 0xB4000000u, 377487360u},
    };
    for (const Expected& m : models) {
        const KS_DATARANGE_VIDEO range = zyn::StoredDataRange(m.width, m.height);
        SCOPED_TRACE(m.width);
        EXPECT_EQ(range.DataRange.FormatSize, 296u);
        EXPECT_EQ(range.DataRange.SampleSize, m.imageBytes);
        EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biSizeImage, m.imageBytes);
        EXPECT_EQ(static_cast<ULONG>(range.ConfigCaps.MinBitsPerSecond), m.bitsPerSecond);
        EXPECT_EQ(static_cast<ULONG>(range.ConfigCaps.MaxBitsPerSecond), m.bitsPerSecond);
        EXPECT_EQ(range.VideoInfoHeader.dwBitRate, m.bitRate);
        EXPECT_EQ(range.ConfigCaps.MinFrameInterval, 333667);
        EXPECT_EQ(range.ConfigCaps.MaxFrameInterval, 640000000);
        EXPECT_EQ(range.VideoInfoHeader.AvgTimePerFrame, 333667);
        EXPECT_EQ(range.VideoInfoHeader.rcSource.right, m.width);
        EXPECT_EQ(range.VideoInfoHeader.rcSource.bottom, m.height);
        EXPECT_EQ(range.VideoInfoHeader.rcTarget.right, 0);
        EXPECT_EQ(range.ConfigCaps.CropGranularityX, 8);
        EXPECT_EQ(range.ConfigCaps.OutputGranularityY, 1);
        EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biBitCount, 32);
        EXPECT_TRUE(range.DataRange.SubFormat == KSDATAFORMAT_SUBTYPE_RGB32);
        EXPECT_TRUE(range.ConfigCaps.guid == KSDATAFORMAT_SPECIFIER_VIDEOINFO);
    }
}

TEST(StoredDataRange, UpdateTakesANonPositiveRateAsThirty) {
    KS_DATARANGE_VIDEO range = zyn::StoredDataRange(1360, 1024);
    zyn::UpdateDataRange(&range, 96, 1004, 0);
    EXPECT_EQ(range.ConfigCaps.MinFrameInterval, 333333);
    EXPECT_EQ(range.VideoInfoHeader.AvgTimePerFrame, 333333);
    EXPECT_EQ(range.DataRange.SampleSize, 96u * 1004 * 4);
    EXPECT_EQ(range.ConfigCaps.MinBitsPerSecond, 96 * 1004 * 30 * 32);
    EXPECT_EQ(range.ConfigCaps.MaxOutputSize.cx, 96);
    EXPECT_EQ(range.VideoInfoHeader.rcSource.bottom, 1004);
}

TEST_F(TernTest, AFreshDeviceOffersTheFullSensorAtThirtyFramesPerSecond) {
    StartAndOpen();
    KS_DATARANGE_VIDEO range{};
    ASSERT_EQ(filter_->VideoRange(0, &range), STATUS_SUCCESS);
    EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biWidth, 1360);
    EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biHeight, 1024);
    EXPECT_EQ(range.VideoInfoHeader.bmiHeader.biSizeImage, 5570560u);
    EXPECT_EQ(range.DataRange.SampleSize, 5570560u);
    EXPECT_EQ(range.ConfigCaps.MinBitsPerSecond, 1336934400);
    EXPECT_EQ(range.VideoInfoHeader.dwBitRate, 167116800u);
    // The stored 333667 and 640000000 never reach a client.
    EXPECT_EQ(range.ConfigCaps.MinFrameInterval, 333333);
    EXPECT_EQ(range.ConfigCaps.MaxFrameInterval, 333333);
    EXPECT_EQ(range.VideoInfoHeader.AvgTimePerFrame, 333333);
}

TEST_F(TernTest, TheFrameIntervalIsRewrittenByAddAlone) {
    ASSERT_EQ(zyn::tern::TernDriver::kDataRange.ConfigCaps.MinFrameInterval, 333667);
    ASSERT_EQ(system_->Add(), STATUS_SUCCESS);
    const KS_DATARANGE_VIDEO& range = Camera().Offer()->Range();
    EXPECT_EQ(range.ConfigCaps.MinFrameInterval, 333333);
    EXPECT_EQ(range.ConfigCaps.MaxFrameInterval, 333333);
    EXPECT_EQ(range.VideoInfoHeader.AvgTimePerFrame, 333333);
}

TEST_F(TernTest, TheFilterHasOneCapturePinAndTheTernItems) {
    StartAndOpen();
    const KSFILTER_DESCRIPTOR* filter = filter_->ks()->Descriptor;
    ASSERT_EQ(filter->CategoriesCount, 2u);
    EXPECT_TRUE(filter->Categories[0] == KSCATEGORY_VIDEO);
    EXPECT_TRUE(filter->Categories[1] == KSCATEGORY_CAPTURE);
    EXPECT_TRUE(*filter->ReferenceGuid == KSNAME_Filter);
    ASSERT_EQ(filter->PinDescriptorsCount, 1u);
    const KSPIN_DESCRIPTOR_EX& pin = filter->PinDescriptors[0];
    EXPECT_EQ(pin.Flags, static_cast<ULONG>(KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY));
    EXPECT_EQ(pin.PinDescriptor.DataFlow, KSPIN_DATAFLOW_OUT);
    EXPECT_TRUE(*pin.PinDescriptor.Name == PINNAME_VIDEO_CAPTURE);
    ASSERT_NE(pin.AllocatorFraming, nullptr);
    EXPECT_EQ(pin.AllocatorFraming->FramingItem[0].Flags, 0x80000002u);
    EXPECT_EQ(pin.AllocatorFraming->FramingItem[0].Frames, 2u);
    EXPECT_EQ(pin.AllocatorFraming->FramingItem[0].FramingRange.Range.MinFrameSize, 8192u);
    EXPECT_TRUE(pin.AllocatorFraming->FramingItem[0].MemoryType == KSMEMORY_TYPE_KERNEL_NONPAGED);
    ASSERT_EQ(filter->AutomationTable->PropertySetsCount, 1u);
    EXPECT_EQ(filter->AutomationTable->PropertySets[0].PropertiesCount, 69u);

    KSPIN_CINSTANCES instances{};
    ASSERT_EQ(filter_->PinInstances(0, &instances), STATUS_SUCCESS);
    EXPECT_EQ(instances.PossibleCount, 1u);

    // Tern lists ids 0 to 68: the dot filter's items are not there.
    LONG value;
    EXPECT_EQ(zyn::host::GetValue(*filter_, CAMPROP_COLOR_GAIN_DIALOG, &value).status,
              STATUS_SUCCESS);
    EXPECT_EQ(zyn::host::GetValue(*filter_, CAMPROP_DOT, &value).status, STATUS_NOT_FOUND);
    EXPECT_EQ(zyn::host::GetValue(*filter_, 1000, &value).status, STATUS_NOT_FOUND);

    DEVICE_CAPABILITIES capabilities{};
    ASSERT_EQ(system_->device()->QueryCapabilities(&capabilities), STATUS_SUCCESS);
    EXPECT_EQ(capabilities.Removable, 1u) << "Tern leaves the bus's answer alone";
}

TEST_F(TernTest, TheFilterKeepsItsKsFilterAsContext) {
    StartAndOpen();
    EXPECT_EQ(*static_cast<PKSFILTER*>(filter_->context()), filter_->ks());
}

TEST_F(TernTest, EachStartMakesANewFactoryAndAcquisitionAndTheBagKeepsTheOldOnes) {
    ASSERT_EQ(system_->Start(), STATUS_SUCCESS);
    sim::host::Device& device = *system_->device();
    EXPECT_EQ(device.factoryCount(), 1u);
    zyn::Acquisition* first = Camera().GetAcquisition();
    ASSERT_NE(first, nullptr);

    system_->Stop();
    EXPECT_EQ(device.factoryCount(), 0u);
    ASSERT_EQ(system_->Start(), STATUS_SUCCESS);
    EXPECT_EQ(device.factoryCount(), 1u);
    zyn::Acquisition* second = Camera().GetAcquisition();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    const sim::ks::ObjectBag& bag = device.ksDevice().bag();
    EXPECT_TRUE(bag.Contains(&Camera()));
    EXPECT_TRUE(bag.Contains(first)) << "an earlier acquisition stays until removal";
    EXPECT_TRUE(bag.Contains(second));
    Open();
    filter_.reset();
    // Removal frees them all; the fixture finds nothing left in the pool.
}

TEST_F(TernTest, ACameraUnpluggedBeforeStartFailsTheStartAndStillSavesItsSettings) {
    ASSERT_EQ(system_->Add(), STATUS_SUCCESS);
    Settings().Hue = 42; // as a setting made before the start would be
    system_->bus().Unplug();
    EXPECT_EQ(system_->Start(), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(system_->device()->started());
    // The failed start went through Stop, which saved the record as the load left it.
    ExpectStored({{"Hue", 0}, {"Timeout", 3000}, {"RoiW", 1360}});
}

TEST_F(TernTest, ClosingAFilterSavesTheSettingsEvenWhenNothingChanged) {
    StartAndOpen();
    EXPECT_FALSE(Stored("Brightness").has_value()) << "the start only loads";
    filter_.reset();
    ExpectStored({{"Brightness", 255}, {"Exposure", 8}});
    EXPECT_EQ(sim::registry::ValueNames(std::string(kDriverKey) + "\\Settings").size(), 24u);
}

TEST_F(TernTest, AddUnderLowResourcesFailsAndLeavesNothing) {
    sim::pool::FailAllocationsWithTag(zyn::kTagContext);
    EXPECT_EQ(system_->Add(), STATUS_INSUFFICIENT_RESOURCES);
    sim::pool::ClearInjectedFailures();
    EXPECT_EQ(system_->device(), nullptr);
}

TEST_F(TernTest, StartWithoutPoolForTheAcquisitionStillStarts) {
    ASSERT_EQ(system_->Add(), STATUS_SUCCESS);
    sim::pool::FailAllocationsWithTag(zyn::kTagContext);
    EXPECT_EQ(system_->Start(), STATUS_SUCCESS);
    sim::pool::ClearInjectedFailures();
    EXPECT_EQ(Camera().GetAcquisition(), nullptr);
    Open();
}

} // namespace
} // namespace tern_test
