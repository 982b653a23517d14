#include "tests/core/fake_camera_device.h"

namespace zyn::testing {

NTSTATUS FakeCameraDevice::StartCapture(ColorState*, ULONG, ULONG) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++starts_;
    SetRawFrameGeometry(0, kPitch, frameSize_);
    return startStatus_;
}

BOOLEAN FakeCameraDevice::ReadRawFrame(PUCHAR buffer) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++readsStarted_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !script_.empty() || aborted_; });
    if (script_.empty()) {
        aborted_ = false;
        return FALSE;
    }
    const int value = script_.front();
    script_.pop_front();
    ++readsDone_;
    startedAtDone_ = readsStarted_;
    changed_.notify_all();
    if (value < 0 || buffer == nullptr) {
        return FALSE;
    }
    std::memset(buffer, value, GetRawFrameSize());
    if (regionValue_ >= 0) {
        // Only the region carries the value; the rest of the frame differs.
        for (ULONG y = 0; y < GetRawFrameSize() / kPitch; ++y) {
            for (ULONG x = 0; x < kPitch; ++x) {
                const bool inside =
                    x >= roiX_ && x < roiX_ + roiW_ && y >= roiY_ && y < roiY_ + roiH_;
                buffer[y * kPitch + x] = static_cast<UCHAR>(inside ? regionValue_ : value);
            }
        }
    }
    return TRUE;
}

VOID FakeCameraDevice::NotifyFrame() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++notified_;
    changed_.notify_all();
}

NTSTATUS FakeCameraDevice::AbortPipes() {
    std::lock_guard<std::mutex> lock(mutex_);
    aborted_ = true;
    ++aborts_;
    changed_.notify_all();
    return STATUS_SUCCESS;
}

VOID FakeCameraDevice::CancelReads() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++cancels_;
}

ULONG FakeCameraDevice::GetRoiX() const {
    return roiX_;
}
ULONG FakeCameraDevice::GetRoiY() const {
    return roiY_;
}

} // namespace zyn::testing
