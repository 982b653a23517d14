// zyn-capture: streams from an emulated camera through its driver, as an application does, and
// writes the pictures it receives.
//
//   zyn-capture [--model tern] [--frames N] [--out DIR] [--every K] [--raw]
//               [--scene bars|gradient|FILE.png] [--set NAME=VALUE ...]
//               [--region X,Y,W,H[,SUBSAMPLE]] [--registry FILE]
//               [--trigger-every MS] [--unpaced] [--command-log FILE]
//               [--frame-info FILE] [--replug-after N]
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/camera/command_log.h"
#include "sim/camera/scene_fit.h"
#include "sim/imaging/png_file.h"
#include "sim/wdk/registry.h"
#include "tools/capture/capture_session.h"
#include "tools/common/camera_properties.h"
#include "tools/ctl/property_catalog.h"

namespace {

using Clock = std::chrono::steady_clock;
using zyn::capture::CaptureSession;

// A failure the user can act on: one line, non-zero exit.
struct Failure {
    std::string message;
    int exitCode = 1;
};

struct Options {
    std::string model = "tern";
    long long frames = 30;
    std::string out = "capture";
    long long every = 1;
    bool raw = false;
    std::string scene;
    std::vector<std::string> sets;
    std::string region;
    std::string registry;
    long long triggerEvery = 0;
    bool unpaced = false;
    std::string commandLog;
    std::string frameInfo;
    long long replugAfter = 0;
};

bool ParseNumber(const std::string& text, long long* value) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    *value = std::strtoll(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0';
}

// Signed or unsigned 32-bit numbers separated by commas.
bool ParseList(const std::string& text, std::vector<LONG>* values) {
    values->clear();
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        long long value;
        if (!ParseNumber(text.substr(start, comma - start), &value) || value < INT32_MIN ||
            value > UINT32_MAX) {
            return false;
        }
        values->push_back(static_cast<LONG>(static_cast<uint32_t>(value)));
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

struct Setting {
    const zyn::ctl::PropertyInfo* property;
    std::vector<LONG> values;
};

Setting ParseSetting(const std::string& assignment) {
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
        throw Failure{"--set " + assignment + ": expected NAME=VALUE", 2};
    }
    const std::string name = assignment.substr(0, equals);
    Setting setting{zyn::ctl::FindProperty(name), {}};
    if (setting.property == nullptr) {
        throw Failure{"--set " + name + ": no such property", 2};
    }
    if (!ParseList(assignment.substr(equals + 1), &setting.values)) {
        throw Failure{"--set " + name + ": '" + assignment.substr(equals + 1) +
                          "' is not a number or a list of numbers",
                      2};
    }
    const uint32_t id = setting.property->id;
    const size_t wanted = id == CAMPROP_SENSOR_REGISTER ? 2 : 1;
    if (id == CAMPROP_REGION) {
        if (setting.values.size() < 4 || setting.values.size() > 5) {
            throw Failure{"--set region: expected X,Y,W,H[,SUBSAMPLE]", 2};
        }
    } else if (id == CAMPROP_RAW_COMMAND || id == CAMPROP_MEMORY_BYTE) {
        throw Failure{"--set " + name + ": not a setting (use zyn-ctl)", 2};
    } else if (setting.values.size() != wanted) {
        throw Failure{"--set " + name + ": expected " +
                          (wanted == 2 ? std::string("INDEX,VALUE") : std::string("one value")),
                      2};
    }
    return setting;
}

std::vector<LONG> ParseRegion(const std::string& text) {
    std::vector<LONG> values;
    if (!ParseList(text, &values) || values.size() < 4 || values.size() > 5) {
        throw Failure{"--region " + text + ": expected X,Y,W,H[,SUBSAMPLE]", 2};
    }
    return values;
}

void Apply(const std::string& what, const zyn::tools::PropertyResult& result) {
    if (!result.ok()) {
        throw Failure{what + ": " + sim::StatusName(result.status)};
    }
}

void ApplySetting(CaptureSession& session, const Setting& setting) {
    const std::vector<LONG>& v = setting.values;
    const std::string what = std::string("set ") + setting.property->name;
    if (setting.property->id == CAMPROP_REGION) {
        Apply(what,
              zyn::tools::SetRegion(session.filter(), v[0], v[1], v[2], v[3], v.size() > 4 ? v[4] : 0));
    } else {
        Apply(what,
              zyn::tools::SetValue(session.filter(), setting.property->id, v[0], v.size() > 1 ? v[1] : 0));
    }
}

// Writes pictures and raw frames on a thread of its own, so the client hands its frames back
// to the driver at once.
class FileWriter {
public:
    FileWriter() : thread_([this] { Loop(); }) {}
    ~FileWriter() { Finish(); }

    void Picture(std::string path, imaging::RgbImage picture) {
        Push(Job{std::move(path), std::move(picture), {}});
    }
    void Bytes(std::string path, std::vector<uint8_t> bytes) {
        Push(Job{std::move(path), {}, std::move(bytes)});
    }
    // Waits for every file; the first error, if any.
    std::string Finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
        return error_;
    }

private:
    static constexpr size_t kMaxJobs = 64;

    struct Job {
        std::string path;
        imaging::RgbImage picture;
        std::vector<uint8_t> bytes;
    };

    void Push(Job job) {
        std::unique_lock<std::mutex> lock(mutex_);
        // Pictures compress slower than a camera delivers them; up to this many wait in memory
        // (a few hundred megabytes) before a slow disk slows the capture.
        room_.wait(lock, [this] { return jobs_.size() < kMaxJobs; });
        jobs_.push_back(std::move(job));
        wake_.notify_all();
    }

    void Loop() {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return done_ || !jobs_.empty(); });
                if (jobs_.empty()) {
                    return;
                }
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            room_.notify_all();
            std::string error;
            if (job.picture.width > 0) {
                imaging::WritePng(job.path, job.picture, error);
            } else {
                std::ofstream file(job.path, std::ios::binary);
                file.write(reinterpret_cast<const char*>(job.bytes.data()),
                           static_cast<std::streamsize>(job.bytes.size()));
                if (!file) {
                    error = "cannot write " + job.path;
                }
            }
            if (!error.empty()) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (error_.empty()) {
                    error_ = error;
                }
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable room_;
    std::deque<Job> jobs_;
    bool done_ = false;
    std::string error_;
    std::thread thread_;
};

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
        Clock::time_point next = Clock::now() + period_;
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

std::string FrameName(long long index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%04lld", index);
    return name;
}

// The zyn-convert options that turn a raw frame of this capture into its picture.
std::string ConvertOptions(CaptureSession& session) {
    const zyn::CameraSettings& s = session.device().Settings();
    const ULONG pitch = session.device().GetRawFramePitch();
    std::string options = "--width " + std::to_string(s.RoiW) + " --height " +
                          std::to_string(s.RoiH) + " --pitch " + std::to_string(pitch) +
                          " --offset " + std::to_string(s.RoiY * pitch + s.RoiX) + " --phase " +
                          std::to_string(session.device().BaseBayerPhase());
    if (s.ColorEnable == 0) {
        options += " --mono";
    }
    if (s.ColorCorrection == 0) {
        options += " --no-color-correction";
    }
    if (s.Brightness != 255) options += " --brightness " + std::to_string(s.Brightness);
    if (s.Contrast != 10) options += " --contrast " + std::to_string(s.Contrast);
    if (s.Saturation != 10) options += " --saturation " + std::to_string(s.Saturation);
    if (s.Hue != 0) options += " --hue " + std::to_string(s.Hue);
    if (s.WhiteBalance != 0) {
        options += " --awb";
    } else if (s.RedGain != 128 || s.GreenGain != 128 || s.BlueGain != 128) {
        options += " --gains " + std::to_string(s.RedGain) + "," + std::to_string(s.GreenGain) +
                   "," + std::to_string(s.BlueGain);
    }
    return options;
}

int Capture(const Options& options) {
    if (options.frames < 1 || options.frames > INT32_MAX) {
        throw Failure{"--frames must be at least 1", 2};
    }
    if (options.every < 1) {
        throw Failure{"--every must be at least 1", 2};
    }
    if (options.triggerEvery < 0 || options.triggerEvery > 3600000) {
        throw Failure{"--trigger-every must be a period of 1 to 3600000 ms", 2};
    }
    if (options.replugAfter < 0) {
        throw Failure{"--replug-after must be a number of frames", 2};
    }
    std::vector<Setting> settings;
    for (const std::string& assignment : options.sets) {
        settings.push_back(ParseSetting(assignment));
    }
    std::vector<LONG> region;
    if (!options.region.empty()) {
        region = ParseRegion(options.region);
    }
    const zyn::tools::DriverModel* model = zyn::tools::FindDriverModel(options.model);
    if (model == nullptr) {
        throw Failure{"no driver for model '" + options.model + "' (built: " +
                          zyn::tools::DriverModelNames() + ")",
                      2};
    }

    zyn::capture::SessionOptions sessionOptions;
    sessionOptions.model = options.model;
    sessionOptions.frameInterval =
        options.unpaced ? std::chrono::nanoseconds{0} : sim::camera::kFrameInterval30;
    if (!options.scene.empty()) {
        const sim::camera::ModelInfo& info = sim::camera::Info(model->camera);
        auto scene = std::make_shared<imaging::RgbImage>();
        std::string error;
        if (!sim::camera::SceneFromSource(options.scene, info.sensorWidth, info.sensorHeight,
                                          *scene, error)) {
            throw Failure{"--scene " + options.scene + ": " + error, 2};
        }
        sessionOptions.scene = scene;
    }

    std::error_code fsError;
    std::filesystem::create_directories(options.out, fsError);
    if (fsError) {
        throw Failure{"--out " + options.out + ": " + fsError.message()};
    }
    std::ofstream frameInfo;
    if (!options.frameInfo.empty()) {
        frameInfo.open(options.frameInfo);
        if (!frameInfo) {
            throw Failure{"--frame-info " + options.frameInfo + ": cannot write it"};
        }
    }
    if (!options.registry.empty()) {
        std::string error;
        if (!sim::registry::UseFile(options.registry, &error)) {
            throw Failure{"--registry " + options.registry + ": " + error};
        }
    }

    std::string error;
    std::unique_ptr<CaptureSession> session = CaptureSession::Open(sessionOptions, &error);
    if (session == nullptr) {
        throw Failure{error};
    }
    for (const Setting& setting : settings) {
        ApplySetting(*session, setting);
    }
    if (!region.empty()) {
        Apply("region",
              zyn::tools::SetRegion(session->filter(), region[0], region[1], region[2], region[3],
                                    region.size() > 4 ? region[4] : 0));
    }
    if (options.triggerEvery > 0) {
        Apply("external trigger",
              zyn::tools::SetValue(session->filter(), CAMPROP_EXTRIGGER, 1));
    }

    std::unique_ptr<TriggerPulses> trigger;
    const auto runPin = [&] {
        NTSTATUS status = session->CreatePin();
        if (!NT_SUCCESS(status)) {
            throw Failure{std::string("the capture pin was not created: ") +
                          sim::StatusName(status)};
        }
        status = session->SetState(KSSTATE_RUN);
        if (!NT_SUCCESS(status)) {
            throw Failure{std::string("the capture pin did not run: ") + sim::StatusName(status)};
        }
        if (options.triggerEvery > 0) {
            trigger = std::make_unique<TriggerPulses>(
                session->camera(), std::chrono::milliseconds(options.triggerEvery));
        }
    };
    runPin();
    // From here the camera streams; what went before was its set-up.
    const Clock::time_point started = Clock::now();

    const bool terminal = isatty(STDOUT_FILENO) != 0;
    FileWriter writer;
    // The driver counts per stream; a replug starts a new one.
    zyn::capture::StreamCounters earlier;
    long long earlierDrops = 0;
    long long streamDrops = 0;
    long long replugs = 0;
    NTSTATUS status;
    // Without a frame for this long the camera is taken for gone.
    const auto patience = std::chrono::seconds(10) + std::chrono::milliseconds(options.triggerEvery) +
                          std::chrono::milliseconds(session->device().Globals().Timeout());
    std::vector<std::string> written;
    std::string firstRaw;
    std::vector<uint8_t> rawFrame;
    long long delivered = 0;
    Clock::time_point first = started;
    Clock::time_point last = started;
    Clock::time_point lastProgress = started;
    while (delivered < options.frames) {
        std::unique_ptr<sim::host::Frame> frame = session->NextFrame(std::chrono::milliseconds(250));
        const Clock::time_point now = Clock::now();
        if (frame == nullptr) {
            if (now - last > patience) {
                throw Failure{"no frame for " +
                              std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now - last).count()) +
                              " s (read timeouts: " + std::to_string(session->Counters().readTimeouts) + ")"};
            }
        } else {
            if (delivered % options.every == 0) {
                const std::string base = options.out + "/" + FrameName(delivered);
                writer.Picture(base + ".png",
                               zyn::capture::PictureFromFrame(frame->data(), session->videoInfo()));
                written.push_back(base + ".png");
                if (options.raw) {
                    const zyn::CameraSettings& s = session->device().Settings();
                    const ULONG pitch = session->device().GetRawFramePitch();
                    const std::string raw = base + ".w" + std::to_string(s.RoiW) + ".h" +
                                            std::to_string(s.RoiH) + ".pitch" +
                                            std::to_string(pitch) + ".offset" +
                                            std::to_string(s.RoiY * pitch + s.RoiX) + ".phase" +
                                            std::to_string(session->device().BaseBayerPhase()) +
                                            ".raw";
                    // The scene and the camera's registers stay as they are for the whole
                    // capture, so every frame the camera sends is this one.
                    if (rawFrame.empty()) {
                        rawFrame = session->camera().ExpectedFrame();
                    }
                    writer.Bytes(raw, rawFrame);
                    if (firstRaw.empty()) {
                        firstRaw = raw;
                    }
                }
            }
            if (const KS_FRAME_INFO* info = frame->frameInfo();
                info != nullptr && info->ExtendedHeaderSize >= sizeof(KS_FRAME_INFO)) {
                streamDrops = info->DropCount;
                if (frameInfo.is_open()) {
                    frameInfo << delivered << ',' << info->PictureNumber << ','
                              << info->DropCount << ','
                              << frame->header().PresentationTime.Time << '\n';
                }
            } else if (frameInfo.is_open()) {
                frameInfo << delivered << ",,," << frame->header().PresentationTime.Time << '\n';
            }
            if (delivered == 0) {
                first = now;
            }
            ++delivered;
            last = now;
            status = session->Requeue(std::move(frame));
            if (status != STATUS_PENDING) {
                throw Failure{std::string("a client frame was refused: ") + sim::StatusName(status)};
            }
            if (options.replugAfter > 0 && delivered % options.replugAfter == 0 &&
                delivered < options.frames) {
                // The camera comes back as a new device with the settings its driver stored
                // when the old one closed; only the scene in front of it is the tool's.
                trigger.reset();
                const zyn::capture::StreamCounters counters = session->Counters();
                earlier.framesRead += counters.framesRead;
                earlier.readTimeouts += counters.readTimeouts;
                earlierDrops += streamDrops;
                streamDrops = 0;
                status = session->Replug();
                if (!NT_SUCCESS(status)) {
                    throw Failure{std::string("the camera did not come back after its replug: ") +
                                  sim::StatusName(status)};
                }
                if (sessionOptions.scene != nullptr) {
                    session->camera().SetScene(*sessionOptions.scene);
                }
                runPin();
                ++replugs;
                last = Clock::now();
            }
        }
        if (terminal && (now - lastProgress > std::chrono::milliseconds(100) || delivered == options.frames)) {
            const double seconds = std::chrono::duration<double>(now - started).count();
            std::printf("\rframes %lld/%lld  %.1f frames/s  timeouts %u   ", delivered, options.frames,
                        seconds > 0 ? delivered / seconds : 0.0, session->Counters().readTimeouts);
            std::fflush(stdout);
            lastProgress = now;
        }
    }
    trigger.reset();
    const zyn::capture::StreamCounters counters = session->Counters();
    const std::string convertOptions = ConvertOptions(*session);
    const zyn::CameraSettings& s = session->device().Settings();
    const bool flipped = s.FlipH != 0 || s.FlipV != 0;
    const bool cropped = s.OutputWidth != s.RoiW;
    const LONG outputWidth = s.OutputWidth;
    session->ClosePin();
    const std::vector<sim::camera::CommandRecord> log = session->camera().CommandLog();
    session->Close();
    session.reset();

    std::string failure = writer.Finish();
    if (frameInfo.is_open()) {
        frameInfo.close();
        if (!frameInfo && failure.empty()) {
            failure = "cannot write " + options.frameInfo;
        }
    }
    if (!options.commandLog.empty()) {
        std::ofstream file(options.commandLog);
        sim::camera::WriteCommandLog(file, log);
        if (!file && failure.empty()) {
            failure = "cannot write " + options.commandLog;
        }
    }
    if (!options.registry.empty()) {
        std::string registryError;
        if (!sim::registry::Flush(&registryError) && failure.empty()) {
            failure = options.registry + ": " + registryError;
        }
        sim::registry::StopUsingFile();
    }

    // The rate between the first frame and the last: frames after the first, over the time
    // they took.
    const double seconds = std::chrono::duration<double>(last - first).count();
    if (terminal) {
        std::printf("\n");
    }
    std::printf("frames delivered        %lld\n", delivered);
    std::printf("frames read by driver   %u\n", earlier.framesRead + counters.framesRead);
    // Raw frames that never reached the client before the last one delivered, as the driver
    // counted them: overwritten in the driver, or converted while no client frame was waiting.
    std::printf("frames dropped          %lld\n", earlierDrops + streamDrops);
    std::printf("read timeouts           %u\n", earlier.readTimeouts + counters.readTimeouts);
    if (options.replugAfter > 0) {
        std::printf("replugs                 %lld\n", replugs);
    }
    std::printf("mean frames per second  %.1f\n", seconds > 0 ? (delivered - 1) / seconds : 0.0);
    std::printf("mean conversion time    %.2f ms\n", counters.meanConversionMs);
    if (!written.empty()) {
        std::printf("pictures                %zu in %s (%s ... %s)\n", written.size(),
                    options.out.c_str(), std::filesystem::path(written.front()).filename().c_str(),
                    std::filesystem::path(written.back()).filename().c_str());
    }
    if (!firstRaw.empty()) {
        std::printf("raw frames              zyn-convert %s %s picture.png\n", convertOptions.c_str(),
                    firstRaw.c_str());
        if (cropped || flipped) {
            std::printf("                        (the delivered picture is%s%s)\n",
                        cropped ? (" its left " + std::to_string(outputWidth) + " columns").c_str() : "",
                        flipped ? (cropped ? ", flipped as set" : " flipped as set") : "");
        }
    }
    if (!options.commandLog.empty()) {
        std::printf("command log             %s (%zu packets)\n", options.commandLog.c_str(), log.size());
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
    app.add_option("--model", options.model, "camera model: " + zyn::tools::DriverModelNames());
    app.add_option("--frames", options.frames, "frames to capture (30)");
    app.add_option("--out", options.out, "folder for the pictures (capture)");
    app.add_option("--every", options.every, "write every Kth frame (1)");
    app.add_flag("--raw", options.raw, "also write the raw frame of each picture");
    app.add_option("--scene", options.scene, "bars, gradient or a PNG file (bars)");
    app.add_option("--set", options.sets, "change a setting first: NAME=VALUE (as zyn-ctl)");
    app.add_option("--region", options.region, "region of interest: X,Y,W,H[,SUBSAMPLE]");
    app.add_option("--registry", options.registry, "keep the camera's settings in this file");
    app.add_option("--trigger-every", options.triggerEvery,
                   "external trigger on, fired every MS milliseconds");
    app.add_flag("--unpaced", options.unpaced, "the camera sends frames as fast as asked");
    app.add_option("--command-log", options.commandLog,
                   "write every command packet the camera received to FILE");
    app.add_option("--frame-info", options.frameInfo,
                   "write a CSV line per delivered frame: index, picture number, drop count, "
                   "presentation time (100 ns)");
    app.add_option("--replug-after", options.replugAfter,
                   "unplug and replug the camera after every N delivered frames");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "zyn-capture: %s\n", error.what());
        return 2;
    }
    try {
        return Capture(options);
    } catch (const Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "zyn-capture: %s\n", failure.message.c_str());
        return failure.exitCode;
    }
}
