// zyn-capture: streams from an emulated camera through its driver, as an application does, and
// writes the pictures it receives.
//
//   zyn-capture [--model tern] [--cameras N] [--frames N] [--out DIR] [--every K] [--raw]
//               [--scene [K:]bars|gradient|FILE.png] [--set [K:]NAME=VALUE ...]
//               [--region [K:]X,Y,W,H[,SUBSAMPLE]] [--registry FILE]
//               [--trigger-every MS] [--unpaced] [--command-log FILE]
//               [--frame-info FILE] [--replug-after N]
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/wdk/registry.h"
#include "tools/capture/camera_capture.h"
#include "tools/capture/camera_plan.h"
#include "tools/capture/capture_failure.h"
#include "tools/capture/capture_options.h"
#include "tools/capture/capture_summary.h"
#include "tools/capture/file_writer.h"
#include "tools/common/command_line.h"

namespace {

using namespace zyn::capture;

// The output folder, and the registry file the drivers keep their settings in.
void PrepareOutput(const Options& options) {
    std::error_code fsError;
    std::filesystem::create_directories(options.out, fsError);
    if (fsError) {
        throw Failure{"--out " + options.out + ": " + fsError.message()};
    }
    if (!options.registry.empty()) {
        std::string error;
        if (!sim::registry::UseFile(options.registry, &error)) {
            throw Failure{"--registry " + options.registry + ": " + error};
        }
    }
}

// Every camera plugged in and set up. The cameras of one model share their driver image, as
// Plug and Play loads it once.
std::vector<std::unique_ptr<CameraCapture>> OpenCameras(const Options& options,
                                                        const std::vector<CameraPlan>& plans) {
    zyn::capture::SessionOptions sessionOptions;
    sessionOptions.model = options.model;
    sessionOptions.frameInterval =
        options.unpaced ? std::chrono::nanoseconds{0} : sim::camera::kFrameInterval30;
    std::vector<std::unique_ptr<CameraCapture>> captures;
    for (const CameraPlan& plan : plans) {
        captures.push_back(std::make_unique<CameraCapture>(options, plan));
        captures.back()->Open(sessionOptions);
        sessionOptions.driver = captures.front()->session().system().driver();
    }

    return captures;
}

// Several cameras streaming at once, each on a thread of its own; the first failure ends them
// all and is reported with its camera.
void StreamTogether(const Options& options,
                    const std::vector<std::unique_ptr<CameraCapture>>& captures, FileWriter& writer,
                    bool terminal) {
    const int cameras = static_cast<int>(captures.size());
    std::atomic<bool> abort{false};
    // One slot per thread (not a vector<bool>, whose elements share bytes).
    std::vector<Failure> failures(captures.size());
    std::vector<char> failed(captures.size(), 0);
    std::atomic<int> running{cameras};
    std::vector<std::thread> threads;
    for (size_t i = 0; i < captures.size(); ++i) {
        threads.emplace_back([&, i] {
            try {
                captures[i]->Stream(writer, false, abort);
            } catch (const Failure& failure) {
                failures[i] = failure;
                failed[i] = 1;
                abort = true;
            }
            --running;
        });
    }
    // Progress of all cameras together, until each is done.
    while (terminal && running.load() > 0) {
        long long delivered = 0;
        for (const auto& capture : captures) {
            delivered += capture->Delivered();
        }
        std::printf("\rframes %lld/%lld from %d cameras   ", delivered, options.frames * cameras,
                    cameras);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (size_t i = 0; i < captures.size(); ++i) {
        if (failed[i]) {
            throw Failure{"camera " + std::to_string(i + 1) + ": " + failures[i].message,
                          failures[i].exitCode};
        }
    }
}

// Waits for the files and writes the registry file back; the first failure, if any.
std::string FinishFiles(const Options& options, FileWriter& writer) {
    std::string failure = writer.Finish();
    if (!options.registry.empty()) {
        std::string registryError;
        if (!sim::registry::Flush(&registryError) && failure.empty()) {
            failure = options.registry + ": " + registryError;
        }
        sim::registry::StopUsingFile();
    }

    return failure;
}

int Capture(const Options& options) {
    CheckOptions(options);
    const std::vector<CameraPlan> plans = PlanCameras(options);
    PrepareOutput(options);
    const std::vector<std::unique_ptr<CameraCapture>> captures = OpenCameras(options, plans);

    const bool terminal = isatty(STDOUT_FILENO) != 0;
    FileWriter writer;
    if (captures.size() == 1) {
        const std::atomic<bool> abort{false};
        captures.front()->Stream(writer, terminal, abort);
    } else {
        StreamTogether(options, captures, writer, terminal);
    }
    const std::string failure = FinishFiles(options, writer);

    if (terminal) {
        std::printf("\n");
    }
    std::vector<CameraResult> results;
    for (const auto& capture : captures) {
        results.push_back(capture->result());
    }
    if (captures.size() == 1) {
        PrintSummary(options, results.front());
    } else {
        PrintSummary(options, plans, results);
    }
    if (!failure.empty()) {
        throw Failure{failure};
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Streams from an emulated camera through its driver and writes the pictures."};
    Options options;
    AddOptions(app, options);
    if (const std::optional<int> exitStatus =
            zyn::tools::ParseCommandLine(app, argc, argv, "zyn-capture")) {
        return *exitStatus;
    }
    return zyn::tools::RunReportingFailures("zyn-capture", [&] { return Capture(options); });
}
