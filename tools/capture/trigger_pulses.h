// A pulse generator wired to an emulated camera's trigger input.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "sim/camera/camera.h"

namespace zyn::capture {

// Fires the camera's trigger input at a fixed period while it lives.
class TriggerPulses {
public:
    TriggerPulses(sim::camera::Camera& camera, std::chrono::milliseconds period)
        : camera_(camera), period_(period), thread_([this] { Loop(); }) {}
    ~TriggerPulses() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    void Loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        std::chrono::steady_clock::time_point next = std::chrono::steady_clock::now() + period_;
        while (!wake_.wait_until(lock, next, [this] { return stop_; })) {
            camera_.FireTrigger();
            next += period_;
        }
    }

    sim::camera::Camera& camera_;
    const std::chrono::milliseconds period_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace zyn::capture
