#include "tests/support/stream_fixture.h"

#include <cstring>

#include "driver/pipeline/color_state.h"
#include "sim/wdk/registry.h"
#include "sim/host/camera_properties.h"

namespace zyn::e2e {

void StreamTest::SetUp() {
    VerifiedTest::SetUp();
    sim::registry::Clear();
}

void StreamTest::TearDown() {
    session_.reset();
    sim::registry::Clear();
    VerifiedTest::TearDown();
}

void StreamTest::Open(std::shared_ptr<const imaging::RgbImage> scene, SessionOptions options) {
    options.frameInterval = std::chrono::nanoseconds{0};
    options.scene = std::move(scene);
    std::string error;
    session_ = CaptureSession::Open(options, &error);
    ASSERT_NE(session_, nullptr) << error;
    // After the device start, which applies the stored Timeout.
    session_->device().Globals().SetTimeout(kReadTimeoutMs);
}

NTSTATUS StreamTest::Set(ULONG id, LONG value) {
    return host::SetValue(session_->filter(), id, value).status;
}

NTSTATUS StreamTest::Region(LONG x, LONG y, LONG w, LONG h, LONG subSample) {
    return host::SetRegion(session_->filter(), x, y, w, h, subSample).status;
}

void StreamTest::Run() {
    ASSERT_EQ(session_->CreatePin(), STATUS_SUCCESS);
    ASSERT_EQ(session_->SetState(KSSTATE_RUN), STATUS_SUCCESS);
}

std::unique_ptr<sim::host::Frame> StreamTest::Next(std::chrono::milliseconds timeout) {
    return session_->NextFrame(timeout);
}

std::unique_ptr<sim::host::Frame> StreamTest::FrameAfterChange() {
    while (std::unique_ptr<sim::host::Frame> frame = session_->pin().TakeFrame()) {
        EXPECT_EQ(session_->Requeue(std::move(frame)), STATUS_PENDING);
    }
    // One frame may be in the copy, another converted and waiting for a client frame.
    for (int i = 0; i < 2; ++i) {
        std::unique_ptr<sim::host::Frame> frame = Next();
        if (frame == nullptr) {
            return nullptr;
        }
        EXPECT_EQ(session_->Requeue(std::move(frame)), STATUS_PENDING);
    }
    return Next();
}

::testing::AssertionResult SamePicture(const sim::host::Frame& frame,
                                       const std::vector<uint8_t>& expected) {
    if (frame.header().DataUsed < expected.size()) {
        return ::testing::AssertionFailure() << "DataUsed " << frame.header().DataUsed;
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        if (frame.data()[i] != expected[i]) {
            return ::testing::AssertionFailure()
                   << "first difference at byte " << i << " (pixel " << i / 4 << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<uint8_t> StreamTest::ExpectedFrame(bool flipH, bool flipV, ULONG stride) {
    return ExpectedClientFrame(*session_, flipH, flipV, stride);
}

std::vector<uint8_t> ExpectedClientFrame(CaptureSession& session, bool flipH, bool flipV,
                                         ULONG stride) {
    CameraDevice& device = session.device();
    const CameraSettings& settings = device.Settings();
    const ULONG roiW = static_cast<ULONG>(settings.RoiW);
    const ULONG roiH = static_cast<ULONG>(settings.RoiH);
    const ULONG pitch = device.GetRawFramePitch();
    const std::vector<uint8_t> raw = session.camera().ExpectedFrame();
    // A camera that reads out a window sends the region alone; the others the whole sensor.
    ULONG offset = device.GetRawFrameOffset();
    if (!device.Traits().rawFrameIsRegion) {
        offset += static_cast<ULONG>(settings.RoiY) * pitch + static_cast<ULONG>(settings.RoiX);
    }

    std::vector<uint8_t> rgb(static_cast<size_t>(roiW) * roiH * 4);
    ColorState* state = new (NonPagedPool) ColorState(device.Traits().colorState);
    state->SetWhiteBalance(settings.WhiteBalance);
    state->SetBayerPhase(device.BayerPhase());
    state->SetColorEnable(settings.ColorEnable);
    state->SetRedGain(settings.RedGain);
    state->SetGreenGain(settings.GreenGain);
    state->SetBlueGain(settings.BlueGain);
    state->SetColorCorrection(settings.ColorCorrection);
    state->SetBrightness(settings.Brightness);
    state->SetContrast(settings.Contrast);
    state->SetSaturation(settings.Saturation);
    state->SetHue(settings.Hue);
    state->SetFrameSize(roiW, roiH);
    EXPECT_EQ(state->AllocateWorkBuffer(), STATUS_SUCCESS);
    state->SetOutputBuffer(rgb.data());
    ConvertFrame(state, raw.data(), offset, pitch);
    state->SetOutputBuffer(nullptr);
    delete state;

    const ULONG width = static_cast<ULONG>(settings.OutputWidth);
    const ULONG height = static_cast<ULONG>(settings.OutputHeight);
    const size_t rowStep = std::max<size_t>(stride, width * 4);
    std::vector<uint8_t> client(rowStep * (height - 1) + width * 4);
    for (ULONG row = 0; row < height; ++row) {
        const ULONG sourceRow = flipV ? row : roiH - 1 - row;
        for (ULONG x = 0; x < width; ++x) {
            const ULONG sourceX = flipH ? width - 1 - x : x;
            std::memcpy(&client[row * rowStep + x * 4],
                        &rgb[(static_cast<size_t>(sourceRow) * roiW + sourceX) * 4], 4);
        }
    }
    return client;
}

} // namespace zyn::e2e
