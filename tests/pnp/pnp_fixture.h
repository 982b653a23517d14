// A camera of each model streaming through its driver to a client, for tests of Plug and Play
// orders, bus faults and long cycles. The camera is unpaced and the region small, so that a
// frame costs little; waits that a failure would make endless carry a generous bound.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "oculix_zyn_properties.h"
#include "sim/camera/usb_descriptors.h"
#include "tests/support/stream_fixture.h"

namespace zyn::pnp {

using e2e::CaptureSession;
using std::chrono::milliseconds;

// What a stop, a close or a removal may take, whatever the camera does: a correctness bound,
// measured generously on a monotonic clock.
constexpr milliseconds kStopBound{1000};

class PnpTest : public e2e::StreamTest, public ::testing::WithParamInterface<const char*> {
protected:
    // Opens the camera of the test's model with a small region (a whole-sensor frame on the
    // models that always send one).
    void OpenCamera(LONG width = 256, LONG height = 128);
    // After a replug: the settings the test relies on again (the read timeout is the driver's).
    void Prepare();
    // Creates the pin and runs it.
    void RunPin() { Run(); }
    // Opens the camera, runs the pin and takes a first picture; false when none comes.
    bool Streaming() {
        OpenCamera();
        RunPin();
        return TakePicture();
    }
    // The application stops its pin and closes its handles, each within the bound.
    void StopAndClose() {
        EXPECT_LT(Timed([&] { EXPECT_EQ(Session().SetState(KSSTATE_STOP), STATUS_SUCCESS); }),
                  kStopBound);
        EXPECT_LT(Timed([&] { Session().Close(); }), kStopBound);
    }
    // Frames in one raw frame read (one bulk request per 64 KiB).
    size_t ChunksPerFrame();

    // Takes a completed frame with a picture, requeueing what comes; false when none comes.
    bool TakePicture(milliseconds timeout = milliseconds(20000));
    // Requeues every completed frame.
    void RequeueCompleted();
    // Waits until the driver's frame read has all its requests down (a triggered camera keeps
    // it so); false after the bound.
    bool ReadPending();

    template <typename F> static milliseconds Timed(F&& f) {
        const auto begin = std::chrono::steady_clock::now();
        f();
        return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - begin);
    }

    sim::usb::Bus& Bus() { return Session().system().bus(); }
    LONG width_ = 256;
    LONG height_ = 128;
    std::string Model() const { return GetParam(); }
};

// The models, for INSTANTIATE_TEST_SUITE_P.
#define ZYN_PNP_MODELS ::testing::Values("tern", "heron", "plover", "egret")

} // namespace zyn::pnp
