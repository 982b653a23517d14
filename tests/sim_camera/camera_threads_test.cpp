// The camera emulator under concurrent use: a bus-like reader woken by the data-ready
// callback, a commanding thread, and the pacing thread of a camera on real time.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "camera_wire.h"
#include "sim/camera/usb_descriptors.h"

namespace camera_test {
namespace {

using namespace sim::camera;
using std::chrono::milliseconds;

// A bus-like reader on its own thread, woken by the data-ready callback, against a paced
// camera on real time and a commanding thread.
TEST(Threads, PacedFramesReachAReaderWokenByTheCallback) {
    // Declared before the camera so that they outlive its pacing thread, which may still
    // call back while the camera is being destroyed.
    std::mutex mutex;
    std::condition_variable wake;
    int signals = 0;

    CameraOptions options;
    options.frameInterval = milliseconds(2);
    Camera camera(Model::Heron, options);
    constexpr uint32_t kBytes = 64 * 1024;
    camera.PrepareStreaming(kBytes);

    camera.SetDataReadyCallback([&] {
        std::lock_guard<std::mutex> lock(mutex);
        ++signals;
        wake.notify_all();
    });

    constexpr int kFrames = 5;
    std::atomic<bool> stop{false};
    std::thread commander([&] {
        while (!stop) {
            Ask(camera, {CMD_BOARD_READ, 14}); // commands interleave with the frames
            std::this_thread::yield();
        }
    });
    struct Joiner {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~Joiner() {
            stop = true;
            thread.join();
        }
    } joiner{stop, commander};
    int received = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        RequestFrame(camera);
        uint32_t got = 0;
        std::vector<uint8_t> buffer(kBytes);
        while (got < kBytes) {
            int seen;
            {
                std::lock_guard<std::mutex> lock(mutex);
                seen = signals;
            }
            const auto result = camera.In(kDataEndpoint, buffer.data() + got, kBytes - got);
            got += static_cast<uint32_t>(result.bytes);
            if (result.bytes == 0) {
                std::unique_lock<std::mutex> lock(mutex);
                ASSERT_TRUE(
                    wake.wait_for(lock, std::chrono::seconds(10), [&] { return signals != seen; }));
            }
        }
        ++received;
    }
    EXPECT_EQ(received, kFrames);
    EXPECT_EQ(camera.Status().framesSent, static_cast<uint64_t>(kFrames));
}

} // namespace
} // namespace camera_test
