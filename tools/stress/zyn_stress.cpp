// zyn-stress: a soak of one emulated camera and its driver. One thread walks the capture pin
// and the device through random steps of their lives (the camera unplugged and plugged in
// again among them) and injects bus faults while frames flow;
// others send property requests at the same time. Every operation has a bound: one that
// overruns it is a hang. At the end everything is closed and the driver unloaded, and the run
// fails on any verifier report, pool block left behind or hang.
//
//   zyn-stress --model M [--seconds S] [--seed N]
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <random>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "oculix_zyn_properties.h"
#include "sim/camera/usb_descriptors.h"
#include "sim/wdk/registry.h"
#include "sim/wdk/sim_wdk.h"
#include "sim/host/capture_session.h"
#include "sim/host/camera_properties.h"
#include "tools/common/command_line.h"

namespace {

using Clock = std::chrono::steady_clock;
using zyn::capture::CaptureSession;

// Longest any one operation may take: a device start with its settle times, a stop that
// cancels a read, a property request that reprograms the sensor all take well under it.
constexpr std::chrono::seconds kOperationBound{10};
constexpr int kPropertyThreads = 2;

struct Counts {
    std::atomic<uint64_t> operations{0};
    std::atomic<uint64_t> faults{0};
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> reports{0};
};
Counts theCounts;

void CountReport(const char* message) {
    if (theCounts.reports.fetch_add(1) < 5) {
        std::fprintf(stderr, "\nverifier: %s\n", message);
    }
}

// What a thread is doing, for the watchdog: the operation's name and when it began (0: idle).
struct Activity {
    std::atomic<const char*> name{nullptr};
    std::atomic<int64_t> since{0};
};

class Operation {
public:
    Operation(Activity& activity, const char* name) : activity_(activity) {
        activity_.name = name;
        activity_.since = Clock::now().time_since_epoch().count();
    }
    ~Operation() {
        activity_.since = 0;
        ++theCounts.operations;
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

private:
    Activity& activity_;
};

// The settings a client changes, with values from sensible to hostile.
constexpr ULONG kSettableItems[] = {CAMPROP_EXTRIGGER,
                                    CAMPROP_TIMEOUT,
                                    CAMPROP_EXPOSURE,
                                    CAMPROP_GAIN,
                                    CAMPROP_FLIP_H,
                                    CAMPROP_FLIP_V,
                                    CAMPROP_COLOR_ENABLE,
                                    CAMPROP_WHITE_BALANCE,
                                    CAMPROP_RED_GAIN,
                                    CAMPROP_GREEN_GAIN,
                                    CAMPROP_BLUE_GAIN,
                                    CAMPROP_BRIGHTNESS,
                                    CAMPROP_CONTRAST,
                                    CAMPROP_SATURATION,
                                    CAMPROP_HUE,
                                    CAMPROP_COLOR_CORRECTION,
                                    CAMPROP_CLOCK,
                                    CAMPROP_MEMORY_BYTE,
                                    CAMPROP_RELOAD_SETTINGS};

class Soak {
public:
    Soak(std::unique_ptr<CaptureSession> session, uint32_t seed)
        : session_(std::move(session)), random_(seed), seed_(seed) {}

    void Run(std::chrono::seconds duration) {
        std::vector<std::thread> threads;
        for (int i = 0; i < kPropertyThreads; ++i) {
            threads.emplace_back([this, i] { Properties(propertyActivity_[i], seed_ + 1 + i); });
        }
        std::thread watchdog([this, duration] { Watch(duration); });
        const Clock::time_point end = Clock::now() + duration;
        while (Clock::now() < end) {
            Step();
        }
        stop_ = true;
        for (std::thread& thread : threads) {
            thread.join();
        }
        {
            std::lock_guard<std::mutex> lock(watchMutex_);
            watchDone_ = true;
        }
        watchWake_.notify_all();
        watchdog.join();
        Operation close(lifeActivity_, "close and remove");
        session_.reset();
    }

private:
    // One random step of the pin's and the device's lives, or a fault on the bus.
    void Step() {
        std::unique_lock<std::shared_mutex> exclusive(sessionLock_, std::defer_lock);
        // Weighted so that the pin spends much of its time running with frames asked for.
        switch (random_() % 16) {
        case 0:
        case 1:
        case 2: {
            Operation op(lifeActivity_, "pin state");
            if (!session_->HasFilter()) {
                break;
            }
            if (!session_->HasPin() && !NT_SUCCESS(session_->CreatePin())) {
                break;
            }
            constexpr KSSTATE kStates[] = {KSSTATE_STOP, KSSTATE_ACQUIRE, KSSTATE_PAUSE,
                                           KSSTATE_RUN, KSSTATE_RUN};
            (void)session_->SetState(kStates[random_() % std::size(kStates)]);
            break;
        }
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 10: {
            Operation op(lifeActivity_, "frames");
            if (session_->HasPin() && session_->pin().State() == KSSTATE_RUN) {
                if (session_->camera().Status().triggerMode) {
                    session_->camera().FireTrigger();
                }
                if (auto frame = session_->NextFrame(std::chrono::milliseconds(300))) {
                    theCounts.frames += frame->status() == STATUS_SUCCESS;
                    (void)session_->Requeue(std::move(frame));
                }
            }
            break;
        }
        case 11: {
            Operation op(lifeActivity_, "pin close");
            session_->ClosePin();
            break;
        }
        case 12: {
            LockExclusive(exclusive);
            Operation op(lifeActivity_, "filter reopen");
            (void)session_->ReopenFilter();
            break;
        }
        case 13: {
            // A device restart and a replug are slow on some models: now and then.
            const uint32_t which = random_() % 8;
            if (which == 0) {
                LockExclusive(exclusive);
                Operation op(lifeActivity_, "device restart");
                (void)session_->RestartDevice();
            } else if (which == 1) {
                LockExclusive(exclusive);
                Operation op(lifeActivity_, "unplug and replug");
                (void)session_->Replug();
                ++theCounts.faults;
            }
            break;
        }
        default: {
            Operation op(lifeActivity_, "bus fault");
            Fault();
            break;
        }
        }
    }

    // Readers of a shared mutex may starve a writer: they hold off while one waits.
    void LockExclusive(std::unique_lock<std::shared_mutex>& lock) {
        writerWaiting_ = true;
        lock.lock();
        writerWaiting_ = false;
    }

    void Fault() {
        sim::usb::Bus& bus = session_->system().bus();
        using namespace sim::camera;
        switch (random_() % 6) {
        case 0:
            bus.StallEndpoint(kDataEndpoint);
            break;
        case 1:
            bus.ShortenNextTransfer(kDataEndpoint, random_() % 4096);
            break;
        case 2:
            bus.DropData(kDataEndpoint, 1 + random_() % 65536);
            break;
        case 3:
            bus.StallEndpoint(kCommandEndpoint);
            break;
        case 4:
            bus.DisablePort();
            break;
        default: {
            bus.SetTransferDelay(kDataEndpoint, std::chrono::milliseconds(20));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            bus.SetTransferDelay(kDataEndpoint, std::chrono::microseconds(0));
            break;
        }
        }
        ++theCounts.faults;
    }

    void Properties(Activity& activity, uint32_t seed) {
        std::mt19937 random(seed);
        const LONG values[] = {std::numeric_limits<LONG>::min(), -1, 0, 1, 2, 100, 501, 1000, 65535,
                               std::numeric_limits<LONG>::max()};
        while (!stop_) {
            if (writerWaiting_) {
                std::this_thread::yield();
                continue;
            }
            std::shared_lock<std::shared_mutex> shared(sessionLock_);
            if (!session_->HasFilter()) {
                shared.unlock();
                std::this_thread::yield();
                continue;
            }
            sim::host::Filter& filter = session_->filter();
            Operation op(activity, "property request");
            if (random() % 2 == 0) {
                LONG value = 0;
                (void)zyn::host::GetValue(filter, random() % 81, &value);
            } else {
                const ULONG item = kSettableItems[random() % std::size(kSettableItems)];
                LONG value = values[random() % std::size(values)];
                // A long read timeout would only slow the soak down.
                if (item == CAMPROP_TIMEOUT) {
                    value = 501 + static_cast<LONG>(random() % 1000);
                }
                (void)zyn::host::SetValue(filter, item, value);
            }
        }
    }

    // Prints the progress line once a second and ends the process on a hang: a thread stuck
    // in the driver cannot be unwound.
    void Watch(std::chrono::seconds duration) {
        const Clock::time_point start = Clock::now();
        std::unique_lock<std::mutex> lock(watchMutex_);
        while (!watchWake_.wait_for(lock, std::chrono::seconds(1), [this] { return watchDone_; })) {
            std::fprintf(
                stderr,
                "\r%3llds of %llds: %llu operations, %llu faults, %llu frames, "
                "%llu verifier reports ",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count()),
                static_cast<long long>(duration.count()),
                static_cast<unsigned long long>(theCounts.operations.load()),
                static_cast<unsigned long long>(theCounts.faults.load()),
                static_cast<unsigned long long>(theCounts.frames.load()),
                static_cast<unsigned long long>(theCounts.reports.load()));
            CheckBound(lifeActivity_, "lifecycle");
            for (Activity& activity : propertyActivity_) {
                CheckBound(activity, "property");
            }
        }
        std::fprintf(stderr, "\n");
    }

    void CheckBound(const Activity& activity, const char* thread) {
        const int64_t since = activity.since;
        if (since == 0) {
            return;
        }
        const auto elapsed = Clock::now().time_since_epoch() - Clock::duration(since);
        if (elapsed > kOperationBound) {
            std::fprintf(stderr,
                         "\nzyn-stress: hang: the %s thread's %s has not returned in %llds "
                         "(seed %u)\n",
                         thread, activity.name.load(),
                         static_cast<long long>(
                             std::chrono::duration_cast<std::chrono::seconds>(elapsed).count()),
                         seed_);
            std::fflush(stderr);
            _exit(3);
        }
    }

    std::unique_ptr<CaptureSession> session_;
    // Held shared by property requests, exclusively while the filter is closed and reopened.
    std::shared_mutex sessionLock_;
    std::mt19937 random_;
    uint32_t seed_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> writerWaiting_{false};
    Activity lifeActivity_;
    Activity propertyActivity_[kPropertyThreads];
    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    bool watchDone_ = false;
};

int Stress(const std::string& model, long long seconds, uint32_t seed) {
    sim::SetVerifierHandler(&CountReport);
    const uint64_t poolBefore = sim::pool::LiveBlocks();

    zyn::capture::SessionOptions options;
    options.model = model;
    options.frameInterval = std::chrono::milliseconds(2);
    options.clientFrames = 3;
    std::string error;
    std::unique_ptr<CaptureSession> session = CaptureSession::Open(options, &error);
    if (session == nullptr) {
        std::fprintf(stderr, "zyn-stress: %s\n", error.c_str());
        return 1;
    }
    // Small frames, and reads that give up soon when no frame comes.
    (void)zyn::host::SetRegion(session->filter(), 0, 0, 128, 96);
    (void)zyn::host::SetValue(session->filter(), CAMPROP_TIMEOUT, 501);

    std::printf("zyn-stress: %s for %llds, seed %u\n", model.c_str(), seconds, seed);
    std::fflush(stdout);
    Soak soak(std::move(session), seed);
    soak.Run(std::chrono::seconds(seconds));

    sim::registry::Clear();
    const uint64_t leaked = sim::pool::LiveBlocks() - poolBefore;
    const int threads = sim::RunningSystemThreads();
    std::printf("%llu operations, %llu faults injected, %llu frames delivered, %llu verifier "
                "reports, %llu pool blocks left, %d system threads left\n",
                static_cast<unsigned long long>(theCounts.operations.load()),
                static_cast<unsigned long long>(theCounts.faults.load()),
                static_cast<unsigned long long>(theCounts.frames.load()),
                static_cast<unsigned long long>(theCounts.reports.load()),
                static_cast<unsigned long long>(leaked), threads);
    return theCounts.reports == 0 && leaked == 0 && threads == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Soaks an emulated camera and its driver with random operations and faults."};
    std::string model = "tern";
    long long seconds = 10;
    uint32_t seed = std::random_device{}();
    app.add_option("--model", model, "camera model: " + zyn::host::DriverModelNames());
    app.add_option("--seconds", seconds, "how long to run (10)")->check(CLI::PositiveNumber);
    app.add_option("--seed", seed, "seed of the random operations (a new one each run)");
    if (const std::optional<int> exitStatus =
            zyn::tools::ParseCommandLine(app, argc, argv, "zyn-stress")) {
        return *exitStatus;
    }
    if (zyn::host::FindDriverModel(model) == nullptr) {
        std::fprintf(stderr, "zyn-stress: no driver for model '%s' (built: %s)\n", model.c_str(),
                     zyn::host::DriverModelNames().c_str());
        return 2;
    }
    return Stress(model, seconds, seed);
}
