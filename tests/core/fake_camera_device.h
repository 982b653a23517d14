// A camera device whose frame reads the test scripts: each read takes the next scripted
// outcome (a frame of one uniform value, or a failed read), waiting until there is one or the
// pipes are aborted. Everything the acquisition asks of the device is recorded.
#pragma once

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "driver/core/camera_device.h"
#include "driver/core/driver_globals.h"

namespace zyn::testing {

class FakeCameraDevice : public CameraDevice {
public:
    static constexpr ULONG kPitch = 128;
    static constexpr ULONG kLines = 64;

    explicit FakeCameraDevice(const CameraModelTraits& traits)
        : CameraDevice(nullptr, traits, globals_) {}

    // Out of line, in a file without run-time type information like the driver's.
    NTSTATUS StartCapture(ColorState* colorState, ULONG width, ULONG height) override;
    BOOLEAN ReadRawFrame(PUCHAR buffer) override;
    VOID NotifyFrame() override;
    NTSTATUS AbortPipes() override;
    VOID CancelReads() override;

    ULONG GetRoiX() const override;
    ULONG GetRoiY() const override;

    // Test side.
    void SetFrameSize(ULONG bytes) { frameSize_ = bytes; }
    void SetStartStatus(NTSTATUS status) { startStatus_ = status; }
    void SetRegion(ULONG x, ULONG y, ULONG w, ULONG h, int value) {
        roiX_ = x;
        roiY_ = y;
        roiW_ = w;
        roiH_ = h;
        regionValue_ = value;
    }
    // A frame of uniform `value` (0 to 255), or a failed read for a negative value.
    void Script(int value) {
        std::lock_guard<std::mutex> lock(mutex_);
        script_.push_back(value);
        changed_.notify_all();
    }
    // Waits until `count` scripted reads have been taken and the thread is in the next one.
    void WaitReadsDone(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return readsDone_ >= count && readsStarted_ > startedAtDone_; });
    }
    void WaitNotified(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return notified_ >= count; });
    }
    void WaitAborted() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return aborts_ > 0; });
    }
    int Notified() {
        std::lock_guard<std::mutex> lock(mutex_);
        return notified_;
    }
    int Starts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return starts_;
    }
    int Cancels() {
        std::lock_guard<std::mutex> lock(mutex_);
        return cancels_;
    }

private:
    DriverGlobals globals_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<int> script_;
    bool aborted_ = false;
    int readsStarted_ = 0;
    int readsDone_ = 0;
    int startedAtDone_ = 0; // reads started when the last scripted one was taken
    int notified_ = 0;
    int starts_ = 0;
    int aborts_ = 0;
    int cancels_ = 0;
    ULONG frameSize_ = kPitch * kLines;
    NTSTATUS startStatus_ = STATUS_SUCCESS;
    ULONG roiX_ = 0;
    ULONG roiY_ = 0;
    ULONG roiW_ = 0;
    ULONG roiH_ = 0;
    int regionValue_ = -1;
};

} // namespace zyn::testing
