#include "tests/pnp/pnp_fixture.h"

#include "sim/host/camera_properties.h"

namespace zyn::pnp {

void PnpTest::OpenCamera(LONG width, LONG height) {
    width_ = width;
    height_ = height;
    e2e::SessionOptions options;
    options.model = GetParam();
    Open(nullptr, options);
    Prepare();
}

void PnpTest::Prepare() {
    Session().device().Globals().SetTimeout(kReadTimeoutMs);
    ASSERT_EQ(Region(0, 0, width_, height_), STATUS_SUCCESS);
}

size_t PnpTest::ChunksPerFrame() {
    const ULONG bytes = Session().device().GetRawFrameSize();
    return (bytes + 65535) / 65536;
}

bool PnpTest::TakePicture(milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        std::unique_ptr<sim::host::Frame> frame = Next(
            std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now()));
        if (frame == nullptr) {
            return false;
        }
        const bool picture =
            frame->status() == STATUS_SUCCESS && frame->header().DataUsed == Session().imageBytes();
        EXPECT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
        if (picture) {
            return true;
        }
    }
    return false;
}

void PnpTest::RequeueCompleted() {
    while (std::unique_ptr<sim::host::Frame> frame = Session().pin().TakeFrame()) {
        EXPECT_EQ(Session().Requeue(std::move(frame)), STATUS_PENDING);
    }
}

bool PnpTest::ReadPending() {
    return Bus().WaitForPendingTransfers(sim::camera::kDataEndpoint, ChunksPerFrame(),
                                         std::chrono::seconds(20));
}

} // namespace zyn::pnp
