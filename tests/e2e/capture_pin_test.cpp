// The capture pin as a client meets it: the format it proposes and the ones it accepts, its
// framing, and client frames of other shapes than the offered one.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "driver/core/capture_pin.h"
#include "tests/support/stream_fixture.h"

namespace zyn::e2e {
namespace {

using std::chrono::milliseconds;

KS_DATARANGE_VIDEO OfferedRange(CaptureSession& session) {
    KS_DATARANGE_VIDEO range{};
    EXPECT_EQ(session.filter().VideoRange(0, &range), STATUS_SUCCESS);
    return range;
}

KS_DATAFORMAT_VIDEOINFOHEADER& AsVideoFormat(std::vector<uint8_t>& format) {
    return *reinterpret_cast<KS_DATAFORMAT_VIDEOINFOHEADER*>(format.data());
}

class CapturePinTest : public StreamTest {
protected:
    std::unique_ptr<sim::host::Pin> CreatePin(const std::vector<uint8_t>& format,
                                              NTSTATUS* status) {
        return Session().filter().CreatePin(0, format, {}, status);
    }
    std::vector<uint8_t> OfferedFormat() {
        return sim::host::VideoFormatFromRange(OfferedRange(Session()));
    }
};

TEST_F(CapturePinTest, IntersectionProposesTheOfferedPictureWithItsSize) {
    Open();
    const KS_DATARANGE_VIDEO range = OfferedRange(Session());
    const std::vector<const KSDATARANGE*> ranges = {&range.DataRange};
    sim::host::PropertyResult result = Session().filter().Intersect(0, ranges, nullptr, 0);
    EXPECT_EQ(result.status, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(result.bytes, 152u);
    std::vector<uint8_t> buffer(200);
    result = Session().filter().Intersect(0, ranges, buffer.data(), 100);
    EXPECT_EQ(result.status, STATUS_BUFFER_TOO_SMALL);

    result = Session().filter().Intersect(0, ranges, buffer.data(), 200);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 152u);
    const auto& format = AsVideoFormat(buffer);
    EXPECT_EQ(format.DataFormat.FormatSize, 152u);
    EXPECT_TRUE(format.DataFormat.Specifier == KSDATAFORMAT_SPECIFIER_VIDEOINFO);
    EXPECT_EQ(format.DataFormat.SampleSize, 1360u * 1024 * 4);
    EXPECT_EQ(format.VideoInfoHeader.bmiHeader.biSizeImage, 1360u * 1024 * 4);
    EXPECT_EQ(format.VideoInfoHeader.AvgTimePerFrame, 333333);

    // Ranges that do not describe this pin's stream, or whose sizes do not add up.
    KS_DATARANGE_VIDEO other = range;
    other.ConfigCaps.MinFrameInterval += 1;
    EXPECT_EQ(Session().filter().Intersect(0, {&other.DataRange}, buffer.data(), 200).status,
              STATUS_NO_MATCH);
    other = range;
    other.bTemporalCompression = FALSE;
    EXPECT_EQ(Session().filter().Intersect(0, {&other.DataRange}, buffer.data(), 200).status,
              STATUS_NO_MATCH);
    other = range;
    other.VideoInfoHeader.bmiHeader.biSize = 0xFFFFFFD0u;
    EXPECT_EQ(Session().filter().Intersect(0, {&other.DataRange}, buffer.data(), 200).status,
              STATUS_INVALID_PARAMETER);
    other = range;
    other.VideoInfoHeader.bmiHeader.biSize = 41; // claims a byte beyond the range
    EXPECT_EQ(Session().filter().Intersect(0, {&other.DataRange}, buffer.data(), 200).status,
              STATUS_INVALID_PARAMETER);
}

TEST_F(CapturePinTest, ConnectionFormatsAreCheckedAgainstTheOfferedRange) {
    Open();
    NTSTATUS status = STATUS_UNSUCCESSFUL;

    std::vector<uint8_t> format = OfferedFormat();
    AsVideoFormat(format).VideoInfoHeader.bmiHeader.biWidth = 1352;
    EXPECT_EQ(CreatePin(format, &status), nullptr);
    EXPECT_EQ(status, STATUS_NO_MATCH) << "narrower than offered";

    format = OfferedFormat();
    AsVideoFormat(format).VideoInfoHeader.bmiHeader.biSizeImage -= 4;
    EXPECT_EQ(CreatePin(format, &status), nullptr);
    EXPECT_EQ(status, STATUS_INVALID_PARAMETER) << "image smaller than its rows";

    // A width whose image size wraps in 32 bits is no small image.
    format = OfferedFormat();
    AsVideoFormat(format).VideoInfoHeader.bmiHeader.biWidth = 0x40000000 + 1360;
    EXPECT_EQ(CreatePin(format, &status), nullptr);
    EXPECT_EQ(status, STATUS_INVALID_PARAMETER);

    // 24-bit pictures pass the format check and are refused when the pin acquires the camera.
    format = OfferedFormat();
    AsVideoFormat(format).VideoInfoHeader.bmiHeader.biBitCount = 24;
    std::unique_ptr<sim::host::Pin> pin = CreatePin(format, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(pin->SetState(KSSTATE_ACQUIRE), STATUS_INVALID_PARAMETER);
    pin.reset();

    // Top-down: accepted; rows still go in the order FlipV gives.
    format = OfferedFormat();
    AsVideoFormat(format).VideoInfoHeader.bmiHeader.biHeight = -1024;
    pin = CreatePin(format, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_EQ(pin->Queue(std::make_unique<sim::host::Frame>(1360u * 1024 * 4)), STATUS_PENDING);
    std::unique_ptr<sim::host::Frame> frame = pin->WaitFrame(std::chrono::seconds(20));
    ASSERT_NE(frame, nullptr);
    const std::vector<uint8_t> expected = ExpectedFrame(false, false);
    EXPECT_EQ(std::memcmp(frame->data(), expected.data(), expected.size()), 0);
    ASSERT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
}

TEST_F(CapturePinTest, AFormatChangeIsTakenOnlyInTheStopStateAndARefusedOneChangesNothing) {
    Open();
    Run();
    std::vector<uint8_t> wider = Session().format();
    AsVideoFormat(wider).VideoInfoHeader.bmiHeader.biWidth = 1424;
    AsVideoFormat(wider).VideoInfoHeader.bmiHeader.biSizeImage = 1424 * 1024 * 4;
    for (KSSTATE state : {KSSTATE_RUN, KSSTATE_PAUSE, KSSTATE_ACQUIRE}) {
        ASSERT_EQ(Session().SetState(state), STATUS_SUCCESS);
        EXPECT_EQ(Session().pin().SetFormat(wider), STATUS_INVALID_DEVICE_STATE);
        EXPECT_EQ(Session().capturePin().Stride(), 1360u * 4);
    }
    // Still streaming the format in use.
    ASSERT_EQ(Session().SetState(KSSTATE_RUN), STATUS_SUCCESS);
    std::unique_ptr<sim::host::Frame> frame = FrameAfterChange();
    ASSERT_NE(frame, nullptr);
    const std::vector<uint8_t> packed = ExpectedFrame(false, false);
    EXPECT_EQ(std::memcmp(frame->data(), packed.data(), packed.size()), 0);
    ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);

    ASSERT_EQ(Session().SetState(KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(Session().pin().SetFormat(wider), STATUS_SUCCESS);
    EXPECT_EQ(Session().capturePin().Stride(), 1424u * 4);
    EXPECT_EQ(Session().capturePin().VideoInfo().bmiHeader.biWidth, 1424);
}

TEST_F(CapturePinTest, AWiderClientFormatGetsItsRowsAtItsOwnStride) {
    Open();
    std::vector<uint8_t> format = OfferedFormat();
    AsVideoFormat(format).VideoInfoHeader.bmiHeader.biWidth = 1424;
    AsVideoFormat(format).VideoInfoHeader.bmiHeader.biSizeImage = 1424 * 1024 * 4;
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    std::unique_ptr<sim::host::Pin> pin = CreatePin(format, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);

    // The pin's framing is its own, sized for this connection.
    const KSPIN_DESCRIPTOR_EX* descriptor = pin->ks()->Descriptor;
    EXPECT_NE(descriptor, &Session().filter().ks()->Descriptor->PinDescriptors[0]);
    const KS_FRAMING_ITEM& item = descriptor->AllocatorFraming->FramingItem[0];
    EXPECT_EQ(item.Frames, 2u);
    EXPECT_EQ(item.PhysicalRange.MinFrameSize, 1424u * 1024 * 4);
    EXPECT_EQ(item.PhysicalRange.MaxFrameSize, 1424u * 1024 * 4);
    EXPECT_EQ(item.FramingRange.Range.MinFrameSize, 1424u * 1024 * 4);
    EXPECT_EQ(item.FramingRange.Range.Stepping, 0u);
    EXPECT_EQ(Session()
                  .filter()
                  .ks()
                  ->Descriptor->PinDescriptors[0]
                  .AllocatorFraming->FramingItem[0]
                  .FramingRange.Range.MinFrameSize,
              8192u)
        << "the filter's shared framing was changed";

    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    auto queued = std::make_unique<sim::host::Frame>(1424u * 1024 * 4);
    std::memset(queued->data(), 0x5A, 1424u * 1024 * 4);
    ASSERT_EQ(pin->Queue(std::move(queued)), STATUS_PENDING);
    std::unique_ptr<sim::host::Frame> frame = pin->WaitFrame(std::chrono::seconds(20));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->header().DataUsed, 1424u * 1024 * 4);
    const std::vector<uint8_t> expected = ExpectedFrame(false, false, 1424 * 4);
    const std::vector<uint8_t> untouched((1424 - 1360) * 4, 0x5A);
    for (ULONG row = 0; row < 1024; ++row) {
        const uint8_t* got = frame->data() + row * 1424 * 4;
        ASSERT_EQ(std::memcmp(got, expected.data() + row * 1424 * 4, 1360 * 4), 0) << "row " << row;
        // What lies beyond the picture in each row stays the client's.
        ASSERT_EQ(std::memcmp(got + 1360 * 4, untouched.data(), untouched.size()), 0)
            << "row " << row;
    }
    ASSERT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
}

TEST_F(CapturePinTest, AClientFrameTooSmallForThePictureComesBackEmpty) {
    SessionOptions options;
    options.clientFrames = 0;
    Open(nullptr, options);
    Run();
    const ULONG image = Session().imageBytes();
    auto small = std::make_unique<sim::host::Frame>(image - 4);
    std::memset(small->data(), 0x5A, image - 4);
    ASSERT_EQ(Session().pin().Queue(std::move(small)), STATUS_PENDING);
    ASSERT_EQ(Session().pin().Queue(std::make_unique<sim::host::Frame>(image)), STATUS_PENDING);

    std::unique_ptr<sim::host::Frame> frame = Next();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->dataBytes(), image - 4);
    EXPECT_EQ(frame->header().DataUsed, 0u);
    EXPECT_EQ(frame->data()[0], 0x5A);
    EXPECT_EQ(frame->data()[image - 5], 0x5A);
    // The picture went to the next frame that holds it.
    frame = Next();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->header().DataUsed, image);
    Session().ClosePin();
}

// The driver counts raw frames as it reads them, so a frame the client held its only client
// frame through is a raw frame read and never delivered.
void WaitForFramesRead(CaptureSession& session, LONGLONG count) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (static_cast<LONGLONG>(session.Counters().framesRead) < count &&
           std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::yield();
    }
}

TEST_F(CapturePinTest, EveryModelNumbersItsFramesAndCountsTheOnesNoClientFrameTook) {
    int models = 0;
    for (const char* model : {"tern", "heron", "plover", "egret"}) {
        SCOPED_TRACE(model);
        SessionOptions options;
        options.model = model;
        options.clientFrames = 1;
        Open(nullptr, options);
        Run();
        LONGLONG lastNumber = 0;
        LONGLONG lastDrops = 0;
        for (LONGLONG delivered = 1; delivered <= 4; ++delivered) {
            std::unique_ptr<sim::host::Frame> frame = Next();
            ASSERT_NE(frame, nullptr);
            const KS_FRAME_INFO* info = frame->frameInfo();
            ASSERT_NE(info, nullptr);
            EXPECT_EQ(info->ExtendedHeaderSize, sizeof(KS_FRAME_INFO));
            EXPECT_GT(info->PictureNumber, lastNumber);
            EXPECT_EQ(info->PictureNumber - info->DropCount, delivered);
            EXPECT_GE(info->DropCount, lastDrops);
            lastNumber = info->PictureNumber;
            lastDrops = info->DropCount;
            // The camera's next frames find no client frame queued. One of them may still wait,
            // converted, for the next client frame; it replaced the others.
            WaitForFramesRead(Session(), lastNumber + 3);
            ASSERT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
        }
        EXPECT_GT(lastDrops, 0) << "frames read while the client held its only frame";
        Session().ClosePin();
        session_.reset();
        ++models;
    }
    std::printf("frame numbers and drops checked on %d models\n", models);
}

} // namespace
} // namespace zyn::e2e
