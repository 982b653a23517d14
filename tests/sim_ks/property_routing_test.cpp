// Property requests routed through the filter's automation table and the class driver's pin
// set, with the platform's statuses for everything that does not reach a handler.
#include "tests/sim_ks/ks_fixture.h"

namespace fake {
namespace {

using sim::host::PropertyResult;

class PropertyTest : public KsTest {
protected:
    void SetUp() override {
        KsTest::SetUp();
        driver_ = Load();
        device_ = Started(driver_);
        filter_ = device_->OpenFilter();
        ASSERT_NE(filter_, nullptr);
    }
    void TearDown() override {
        filter_.reset();
        device_.reset();
        driver_.reset();
        KsTest::TearDown();
    }

    PropertyResult Request(ULONG id, ULONG flags, void* data, ULONG length) {
        return filter_->Property(kPropertySet, id, flags, data, length);
    }

    std::shared_ptr<sim::host::Driver> driver_;
    std::unique_ptr<sim::host::Device> device_;
    std::unique_ptr<sim::host::Filter> filter_;
};

TEST_F(PropertyTest, GetAndSetReachTheDriversHandlersForThisFilter) {
    ULONG value = 42;
    PropertyResult set = Request(kValue, KSPROPERTY_TYPE_SET, &value, sizeof value);
    EXPECT_EQ(set.status, STATUS_SUCCESS);
    EXPECT_EQ(set.bytes, 0u);
    value = 0;
    PropertyResult get = Request(kValue, KSPROPERTY_TYPE_GET, &value, sizeof value);
    EXPECT_EQ(get.status, STATUS_SUCCESS);
    EXPECT_EQ(get.bytes, sizeof value);
    EXPECT_EQ(value, 42u);

    // Only the bytes the handler reports come back; a larger buffer keeps the rest.
    ULONG pair[4] = {0, 0, 7, 7};
    get = Request(kGetOnly, KSPROPERTY_TYPE_GET, pair, sizeof pair);
    EXPECT_EQ(get.bytes, 8u);
    EXPECT_EQ(pair[0], 1u) << "the first filter of the device";
    EXPECT_EQ(pair[1], 0xC0FFEEu);
    EXPECT_EQ(pair[2], 7u);

    const uint8_t instance[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t echo[8] = {};
    get = filter_->Property(kPropertySet, kInstanceEcho, KSPROPERTY_TYPE_GET, echo, sizeof echo,
                            instance, sizeof instance);
    EXPECT_EQ(get.status, STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(echo, instance, sizeof echo), 0);
}

TEST_F(PropertyTest, RequestsThatReachNoHandlerGetThePlatformsStatuses) {
    ULONG value = 1;
    const GUID otherSet = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(filter_->Property(otherSet, 0, KSPROPERTY_TYPE_GET, &value, 4).status,
              STATUS_PROPSET_NOT_FOUND);
    EXPECT_EQ(Request(99, KSPROPERTY_TYPE_GET, &value, 4).status, STATUS_NOT_FOUND);
    EXPECT_EQ(Request(kSetOnly, KSPROPERTY_TYPE_GET, &value, 4).status, STATUS_NOT_FOUND);
    EXPECT_EQ(Request(kGetOnly, KSPROPERTY_TYPE_SET, &value, 8).status, STATUS_NOT_FOUND);
    EXPECT_EQ(Request(kValue, KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET, &value, 4).status,
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Request(kValue, 0, &value, 4).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Request(kValue, KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_TOPOLOGY, &value, 4).status,
              STATUS_INVALID_BUFFER_SIZE)
        << "a topology request carries a node id";
    EXPECT_EQ(Request(kValue, KSPROPERTY_TYPE_SETSUPPORT, nullptr, 0).status, STATUS_SUCCESS);

    // Property buffer: shorter than a KSPROPERTY, or than the item's minimum.
    KSPROPERTY property{};
    property.Set = kPropertySet;
    property.Id = kValue;
    property.Flags = KSPROPERTY_TYPE_GET;
    EXPECT_EQ(filter_->RawProperty(&property, sizeof property - 1, &value, 4).status,
              STATUS_INVALID_BUFFER_SIZE);
    uint8_t echo[8];
    EXPECT_EQ(Request(kInstanceEcho, KSPROPERTY_TYPE_GET, echo, sizeof echo).status,
              STATUS_INVALID_BUFFER_SIZE);

    // Data buffer: none asks for the size; too short is refused in both directions.
    PropertyResult size = Request(kGetOnly, KSPROPERTY_TYPE_GET, nullptr, 0);
    EXPECT_EQ(size.status, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(size.bytes, 8u);
    EXPECT_EQ(Request(kGetOnly, KSPROPERTY_TYPE_GET, &value, 4).status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(Request(kValue, KSPROPERTY_TYPE_SET, &value, 2).status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(Request(kValue, KSPROPERTY_TYPE_SET, nullptr, 0).status, STATUS_BUFFER_TOO_SMALL);
}

TEST_F(PropertyTest, BasicSupportAnswersTheAccessFlags) {
    ULONG access = 0;
    PropertyResult result = Request(kValue, KSPROPERTY_TYPE_BASICSUPPORT, &access, sizeof access);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(access,
              ULONG{KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET});
    KSPROPERTY_DESCRIPTION description{};
    result = Request(kSetOnly, KSPROPERTY_TYPE_BASICSUPPORT, &description, sizeof description);
    EXPECT_EQ(result.bytes, sizeof description);
    EXPECT_EQ(description.AccessFlags, ULONG{KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_SET});
}

TEST_F(PropertyTest, HandlersThatOverstepTheBufferAreReported) {
    ULONG value = 0;
    {
        sim::testing::VerifierCapture capture;
        Request(kOverclaim, KSPROPERTY_TYPE_GET, &value, sizeof value);
        EXPECT_TRUE(capture.Saw("reported 4096 bytes for a data buffer of 4"));
    }
    {
        sim::testing::VerifierCapture capture;
        Request(kOverrun, KSPROPERTY_TYPE_GET, &value, sizeof value);
        EXPECT_TRUE(capture.Saw("written past its end"));
    }
}

TEST_F(PropertyTest, TheClassDriverAnswersThePinSet) {
    KSPIN_CINSTANCES instances{};
    ASSERT_EQ(filter_->PinInstances(0, &instances), STATUS_SUCCESS);
    EXPECT_EQ(instances.PossibleCount, 1u);
    EXPECT_EQ(instances.CurrentCount, 0u);
    EXPECT_EQ(filter_->PinInstances(1, &instances), STATUS_INVALID_PARAMETER);

    ULONG pinTypes = 0;
    EXPECT_EQ(filter_
                  ->Property(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, KSPROPERTY_TYPE_GET, &pinTypes,
                             sizeof pinTypes)
                  .status,
              STATUS_SUCCESS);
    EXPECT_EQ(pinTypes, 1u);

    const ULONG pin[2] = {0, 0};
    PropertyResult size = filter_->Property(KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES,
                                            KSPROPERTY_TYPE_GET, nullptr, 0, pin, sizeof pin);
    EXPECT_EQ(size.status, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(size.bytes, sizeof(KSMULTIPLE_ITEM) + sizeof(KS_DATARANGE_VIDEO));
    KS_DATARANGE_VIDEO range;
    ASSERT_EQ(filter_->VideoRange(0, &range), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(&range, &DataRange(), sizeof range), 0);
}

TEST_F(PropertyTest, DataIntersectionAsksTheDriverAndAnswersItsSize) {
    const KSDATARANGE* ranges[] = {&DataRange().DataRange};
    PropertyResult size = filter_->Intersect(0, {ranges[0]}, nullptr, 0);
    EXPECT_EQ(size.status, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(size.bytes, 152u);
    uint8_t small[100];
    EXPECT_EQ(filter_->Intersect(0, {ranges[0]}, small, sizeof small).status,
              STATUS_BUFFER_TOO_SMALL);

    NTSTATUS status;
    std::vector<uint8_t> format = filter_->IntersectFormat(0, DataRange().DataRange, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    ASSERT_EQ(format.size(), 152u);
    const auto* video = reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(format.data());
    EXPECT_EQ(video->DataFormat.FormatSize, 152u);
    EXPECT_EQ(video->DataFormat.SubFormat, KSDATAFORMAT_SUBTYPE_RGB32);
    EXPECT_EQ(video->VideoInfoHeader.bmiHeader.biWidth, kWidth);
    EXPECT_FALSE(Logged("Intersect: the context is not the filter"));

    // A range of another kind never reaches the driver; a wildcard one does.
    KSDATARANGE other = DataRange().DataRange;
    other.FormatSize = sizeof other;
    other.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
    EXPECT_EQ(filter_->Intersect(0, {&other}, format.data(), 152).status, STATUS_NO_MATCH);
    KS_DATARANGE_VIDEO wildcard = DataRange();
    wildcard.DataRange.SubFormat = GUID_NULL;
    EXPECT_EQ(filter_->Intersect(0, {&wildcard.DataRange}, format.data(), 152).status,
              STATUS_SUCCESS);

    // A list whose size runs past the request is refused before any handler sees it.
    struct {
        ULONG pinId, reserved;
        KSMULTIPLE_ITEM list;
    } malformed = {0, 0, {4096, 1}};
    EXPECT_EQ(filter_
                  ->Property(KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION, KSPROPERTY_TYPE_GET,
                             format.data(), 152, &malformed, sizeof malformed)
                  .status,
              STATUS_INVALID_BUFFER_SIZE);
}

} // namespace
} // namespace fake
