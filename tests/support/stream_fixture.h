// An emulated Tern streaming through its driver to a client, for tests of the whole road of a
// frame. The camera is unpaced (a frame as soon as the driver asks) and the driver's frame read
// gives up after a short timeout, so that waits for frames that cannot come stay short.
#pragma once

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "sim/imaging/rgb_image.h"
#include "tests/support/verified_test.h"
#include "sim/host/capture_session.h"

namespace zyn::e2e {

using capture::CaptureSession;
using capture::SessionOptions;

// The client frame a camera's driver should deliver for the raw frame the camera sends now: the
// pipeline's conversion of the region with the device's colour settings, bottom-up, flipped and
// mirrored as asked, rows `stride` bytes apart (0: packed).
std::vector<uint8_t> ExpectedClientFrame(CaptureSession& session, bool flipH, bool flipV,
                                         ULONG stride = 0);

// Whether a client frame carries exactly the expected bytes.
::testing::AssertionResult SamePicture(const sim::host::Frame& frame,
                                       const std::vector<uint8_t>& expected);

class StreamTest : public sim::testing::VerifiedTest {
protected:
    static constexpr ULONG kReadTimeoutMs = 40;

    void SetUp() override;
    void TearDown() override;

    // Opens the camera with the scene (null: the default); the pin is not created yet.
    void Open(std::shared_ptr<const imaging::RgbImage> scene = nullptr,
              SessionOptions options = {});
    CaptureSession& Session() { return *session_; }
    CameraSettings& Settings() { return session_->device().Settings(); }
    NTSTATUS Set(ULONG id, LONG value);
    NTSTATUS Region(LONG x, LONG y, LONG w, LONG h, LONG subSample = 0);

    // Creates the pin and runs it.
    void Run();
    // The next picture the client receives, null after `timeout`.
    std::unique_ptr<sim::host::Frame>
    Next(std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // A frame converted and copied wholly after the settings last changed: what completed
    // before is handed back, and the frames that may have begun before are passed over.
    std::unique_ptr<sim::host::Frame> FrameAfterChange();

    // The client frame the driver should deliver for the raw frame the camera sends now:
    // the pipeline's conversion of the region with the device's colour settings, bottom-up,
    // flipped and mirrored as asked, rows `stride` bytes apart (0: packed).
    std::vector<uint8_t> ExpectedFrame(bool flipH, bool flipV, ULONG stride = 0);

    std::unique_ptr<CaptureSession> session_;
};

} // namespace zyn::e2e
