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
    std::vector<std::string> scenes;
    std::vector<std::string> sets;
    std::vector<std::string> regions;
    std::string registry;
    long long triggerEvery = 0;
    bool unpaced = false;
    std::string commandLog;
    std::string frameInfo;
    long long replugAfter = 0;
    long long cameras = 1;
};

// Cameras of one model streaming at once, each on a thread of its own.
constexpr long long kMaxCameras = 16;

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

// A value of --set, --region or --scene: "K:VALUE" is for camera K alone, a value without the
// prefix for every camera (camera 0 here).
struct ForCamera {
    int camera;
    std::string value;
};

ForCamera SplitCameraPrefix(const std::string& option, const std::string& text, int cameras) {
    size_t digits = 0;
    while (digits < text.size() && digits < 9 && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    if (digits == 0 || digits >= text.size() || text[digits] != ':') {
        return ForCamera{0, text};
    }
    const int camera = std::atoi(text.substr(0, digits).c_str());
    if (camera < 1 || camera > cameras) {
        throw Failure{option + " " + text + ": there is no camera " + std::to_string(camera) +
                          " (--cameras " + std::to_string(cameras) + ")",
                      2};
    }
    return ForCamera{camera, text.substr(digits + 1)};
}

bool ForThisCamera(const ForCamera& value, int camera) {
    return value.camera == 0 || value.camera == camera;
}

// FILE for camera K of several: FILE with "-K" before its extension.
std::string CameraFile(const std::string& file, int camera, int cameras) {
    if (file.empty() || cameras == 1) {
        return file;
    }
    std::filesystem::path path(file);
    path.replace_filename(path.stem().string() + "-" + std::to_string(camera) +
                          path.extension().string());
    return path.string();
}

// Camera K's driver key: the session's key for the first camera, the next ones after it, so a
// registry file holds each camera's settings apart.
std::string CameraDriverKey(int camera) {
    std::string key = zyn::capture::kSessionDriverKey;
    char instance[16];
    std::snprintf(instance, sizeof instance, "%04d", camera - 1);
    return key.substr(0, key.size() - 4) + instance;
}

// What one camera does in a capture.
struct CameraPlan {
    int number = 1; // K, from 1
    std::string out;
    std::vector<Setting> settings;
    std::vector<LONG> region;
    std::shared_ptr<const imaging::RgbImage> scene;
    std::string frameInfo;
    std::string commandLog;
};

// What one camera's capture counted.
struct CameraResult {
    long long delivered = 0;
    long long drops = 0;
    long long replugs = 0;
    ULONG framesRead = 0;
    ULONG readTimeouts = 0;
    double meanConversionMs = 0;
    double seconds = 0; // from the first frame to the last
    std::vector<std::string> written;
    std::string firstRaw;
    std::string convertOptions;
    bool flipped = false;
    bool cropped = false;
    LONG outputWidth = 0;
    size_t commandPackets = 0;
};

// One camera streaming into its folder: opened and set up by the caller, then streamed to the
// end (on a thread of its own when there are several).
class CameraCapture {
public:
    CameraCapture(const Options& options, CameraPlan plan) : options_(options), plan_(std::move(plan)) {}

    // Plugs the camera in and applies its settings.
    void Open(zyn::capture::SessionOptions sessionOptions) {
        sessionOptions.scene = plan_.scene;
        sessionOptions.driverKey = CameraDriverKey(plan_.number);
        sessionOptions_ = sessionOptions;
        std::error_code fsError;
        std::filesystem::create_directories(plan_.out, fsError);
        if (fsError) {
            throw Failure{"--out " + plan_.out + ": " + fsError.message()};
        }
        if (!plan_.frameInfo.empty()) {
            frameInfo_.open(plan_.frameInfo);
            if (!frameInfo_) {
                throw Failure{"--frame-info " + plan_.frameInfo + ": cannot write it"};
            }
        }
        std::string error;
        session_ = CaptureSession::Open(sessionOptions, &error);
        if (session_ == nullptr) {
            throw Failure{error};
        }
        for (const Setting& setting : plan_.settings) {
            ApplySetting(*session_, setting);
        }
        if (!plan_.region.empty()) {
            const std::vector<LONG>& region = plan_.region;
            Apply("region",
                  zyn::tools::SetRegion(session_->filter(), region[0], region[1], region[2],
                                        region[3], region.size() > 4 ? region[4] : 0));
        }
        if (options_.triggerEvery > 0) {
            Apply("external trigger",
                  zyn::tools::SetValue(session_->filter(), CAMPROP_EXTRIGGER, 1));
        }
    }

    CaptureSession& session() { return *session_; }
    const CameraResult& result() const { return result_; }
    long long Delivered() const { return delivered_.load(); }

    // Streams until --frames pictures came; the camera is closed afterwards. A failure of
    // another camera (`abort`) ends the stream early.
    void Stream(FileWriter& writer, bool progress, const std::atomic<bool>& abort) {
        RunPin();
        Loop(writer, progress, abort);
        Finish();
    }

private:
    void RunPin() {
        NTSTATUS status = session_->CreatePin();
        if (!NT_SUCCESS(status)) {
            throw Failure{std::string("the capture pin was not created: ") +
                          sim::StatusName(status)};
        }
        status = session_->SetState(KSSTATE_RUN);
        if (!NT_SUCCESS(status)) {
            throw Failure{std::string("the capture pin did not run: ") + sim::StatusName(status)};
        }
        if (options_.triggerEvery > 0) {
            trigger_ = std::make_unique<TriggerPulses>(
                session_->camera(), std::chrono::milliseconds(options_.triggerEvery));
        }
    }

    void Loop(FileWriter& writer, bool progress, const std::atomic<bool>& abort) {
        CaptureSession& session = *session_;
        // From here the camera streams; what went before was its set-up.
        const Clock::time_point started = Clock::now();
        // The driver counts per stream; a replug starts a new one.
        zyn::capture::StreamCounters earlier;
        long long earlierDrops = 0;
        long long streamDrops = 0;
        NTSTATUS status;
        // Without a frame for this long the camera is taken for gone.
        const auto patience = std::chrono::seconds(10) +
                              std::chrono::milliseconds(options_.triggerEvery) +
                              std::chrono::milliseconds(session.device().Globals().Timeout());
        std::vector<uint8_t> rawFrame;
        long long delivered = 0;
        Clock::time_point first = started;
        Clock::time_point last = started;
        Clock::time_point lastProgress = started;
        while (delivered < options_.frames && !abort.load()) {
            std::unique_ptr<sim::host::Frame> frame = session.NextFrame(std::chrono::milliseconds(250));
            const Clock::time_point now = Clock::now();
            if (frame == nullptr) {
                if (now - last > patience) {
                    throw Failure{"no frame for " +
                                  std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now - last).count()) +
                                  " s (read timeouts: " + std::to_string(session.Counters().readTimeouts) + ")"};
                }
            } else {
                if (delivered % options_.every == 0) {
                    const std::string base = plan_.out + "/" + FrameName(delivered);
                    writer.Picture(base + ".png",
                                   zyn::capture::PictureFromFrame(frame->data(), session.videoInfo()));
                    result_.written.push_back(base + ".png");
                    if (options_.raw) {
                        const zyn::CameraSettings& s = session.device().Settings();
                        const ULONG pitch = session.device().GetRawFramePitch();
                        const std::string raw = base + ".w" + std::to_string(s.RoiW) + ".h" +
                                                std::to_string(s.RoiH) + ".pitch" +
                                                std::to_string(pitch) + ".offset" +
                                                std::to_string(s.RoiY * pitch + s.RoiX) + ".phase" +
                                                std::to_string(session.device().BaseBayerPhase()) +
                                                ".raw";
                        // The scene and the camera's registers stay as they are for the whole
                        // capture, so every frame the camera sends is this one.
                        if (rawFrame.empty()) {
                            rawFrame = session.camera().ExpectedFrame();
                        }
                        writer.Bytes(raw, rawFrame);
                        if (result_.firstRaw.empty()) {
                            result_.firstRaw = raw;
                        }
                    }
                }
                if (const KS_FRAME_INFO* info = frame->frameInfo();
                    info != nullptr && info->ExtendedHeaderSize >= sizeof(KS_FRAME_INFO)) {
                    streamDrops = info->DropCount;
                    if (frameInfo_.is_open()) {
                        frameInfo_ << delivered << ',' << info->PictureNumber << ','
                                   << info->DropCount << ','
                                   << frame->header().PresentationTime.Time << '\n';
                    }
                } else if (frameInfo_.is_open()) {
                    frameInfo_ << delivered << ",,," << frame->header().PresentationTime.Time << '\n';
                }
                if (delivered == 0) {
                    first = now;
                }
                ++delivered;
                delivered_.store(delivered);
                last = now;
                status = session.Requeue(std::move(frame));
                if (status != STATUS_PENDING) {
                    throw Failure{std::string("a client frame was refused: ") + sim::StatusName(status)};
                }
                if (options_.replugAfter > 0 && delivered % options_.replugAfter == 0 &&
                    delivered < options_.frames) {
                    // The camera comes back as a new device with the settings its driver stored
                    // when the old one closed; only the scene in front of it is the tool's.
                    trigger_.reset();
                    const zyn::capture::StreamCounters counters = session.Counters();
                    earlier.framesRead += counters.framesRead;
                    earlier.readTimeouts += counters.readTimeouts;
                    earlierDrops += streamDrops;
                    streamDrops = 0;
                    status = session.Replug();
                    if (!NT_SUCCESS(status)) {
                        throw Failure{std::string("the camera did not come back after its replug: ") +
                                      sim::StatusName(status)};
                    }
                    if (sessionOptions_.scene != nullptr) {
                        session.camera().SetScene(*sessionOptions_.scene);
                    }
                    RunPin();
                    ++result_.replugs;
                    last = Clock::now();
                }
            }
            if (progress && (now - lastProgress > std::chrono::milliseconds(100) || delivered == options_.frames)) {
                const double seconds = std::chrono::duration<double>(now - started).count();
                std::printf("\rframes %lld/%lld  %.1f frames/s  timeouts %u   ", delivered, options_.frames,
                            seconds > 0 ? delivered / seconds : 0.0, session.Counters().readTimeouts);
                std::fflush(stdout);
                lastProgress = now;
            }
        }
        trigger_.reset();
        const zyn::capture::StreamCounters counters = session.Counters();
        result_.delivered = delivered;
        result_.drops = earlierDrops + streamDrops;
        result_.framesRead = earlier.framesRead + counters.framesRead;
        result_.readTimeouts = earlier.readTimeouts + counters.readTimeouts;
        result_.meanConversionMs = counters.meanConversionMs;
        // The rate between the first frame and the last: frames after the first, over the time
        // they took.
        result_.seconds = std::chrono::duration<double>(last - first).count();
    }

    void Finish() {
        CaptureSession& session = *session_;
        result_.convertOptions = ConvertOptions(session);
        const zyn::CameraSettings& s = session.device().Settings();
        result_.flipped = s.FlipH != 0 || s.FlipV != 0;
        result_.cropped = s.OutputWidth != s.RoiW;
        result_.outputWidth = s.OutputWidth;
        session.ClosePin();
        const std::vector<sim::camera::CommandRecord> log = session.camera().CommandLog();
        session.Close();
        session_.reset();
        result_.commandPackets = log.size();

        if (frameInfo_.is_open()) {
            frameInfo_.close();
            if (!frameInfo_) {
                throw Failure{"cannot write " + plan_.frameInfo};
            }
        }
        if (!plan_.commandLog.empty()) {
            std::ofstream file(plan_.commandLog);
            sim::camera::WriteCommandLog(file, log);
            if (!file) {
                throw Failure{"cannot write " + plan_.commandLog};
            }
        }
    }

    const Options& options_;
    const CameraPlan plan_;
    zyn::capture::SessionOptions sessionOptions_;
    std::unique_ptr<CaptureSession> session_;
    std::ofstream frameInfo_;
    std::unique_ptr<TriggerPulses> trigger_;
    std::atomic<long long> delivered_{0};
    CameraResult result_;
};

void PrintRawCommand(const char* heading, const CameraResult& result) {
    std::printf("%-24szyn-convert %s %s picture.png\n", heading, result.convertOptions.c_str(),
                result.firstRaw.c_str());
    if (result.cropped || result.flipped) {
        std::printf("                        (the delivered picture is%s%s)\n",
                    result.cropped ? (" its left " + std::to_string(result.outputWidth) + " columns").c_str() : "",
                    result.flipped ? (result.cropped ? ", flipped as set" : " flipped as set") : "");
    }
}

// The summary of a capture from one camera.
void PrintSummary(const Options& options, const CameraResult& r) {
    std::printf("frames delivered        %lld\n", r.delivered);
    std::printf("frames read by driver   %u\n", r.framesRead);
    // Raw frames that never reached the client before the last one delivered, as the driver
    // counted them: overwritten in the driver, or converted while no client frame was waiting.
    std::printf("frames dropped          %lld\n", r.drops);
    std::printf("read timeouts           %u\n", r.readTimeouts);
    if (options.replugAfter > 0) {
        std::printf("replugs                 %lld\n", r.replugs);
    }
    std::printf("mean frames per second  %.1f\n", r.seconds > 0 ? (r.delivered - 1) / r.seconds : 0.0);
    std::printf("mean conversion time    %.2f ms\n", r.meanConversionMs);
    if (!r.written.empty()) {
        std::printf("pictures                %zu in %s (%s ... %s)\n", r.written.size(),
                    options.out.c_str(), std::filesystem::path(r.written.front()).filename().c_str(),
                    std::filesystem::path(r.written.back()).filename().c_str());
    }
    if (!r.firstRaw.empty()) {
        PrintRawCommand("raw frames", r);
    }
    if (!options.commandLog.empty()) {
        std::printf("command log             %s (%zu packets)\n", options.commandLog.c_str(), r.commandPackets);
    }
}

// The summary of a capture from several cameras: each camera's counts, then the totals.
void PrintSummary(const Options& options, const std::vector<CameraPlan>& plans,
                  const std::vector<CameraResult>& results) {
    CameraResult total;
    double conversionMs = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        const CameraResult& r = results[i];
        const std::string heading = "camera " + std::to_string(plans[i].number);
        std::printf("%-24sframes %lld, written %zu, dropped %lld, replugs %lld, %.1f frames/s, in %s\n",
                    heading.c_str(), r.delivered, r.written.size(), r.drops, r.replugs,
                    r.seconds > 0 ? (r.delivered - 1) / r.seconds : 0.0, plans[i].out.c_str());
        total.delivered += r.delivered;
        total.drops += r.drops;
        total.replugs += r.replugs;
        total.framesRead += r.framesRead;
        total.readTimeouts += r.readTimeouts;
        conversionMs += r.meanConversionMs;
        total.written.insert(total.written.end(), r.written.begin(), r.written.end());
    }
    std::printf("frames delivered        %lld\n", total.delivered);
    std::printf("pictures written        %zu\n", total.written.size());
    std::printf("frames read by driver   %u\n", total.framesRead);
    std::printf("frames dropped          %lld\n", total.drops);
    std::printf("read timeouts           %u\n", total.readTimeouts);
    if (options.replugAfter > 0) {
        std::printf("replugs                 %lld\n", total.replugs);
    }
    std::printf("mean conversion time    %.2f ms\n", conversionMs / static_cast<double>(results.size()));
    for (size_t i = 0; i < results.size(); ++i) {
        if (!results[i].firstRaw.empty()) {
            PrintRawCommand(("raw frames, camera " + std::to_string(plans[i].number)).c_str(), results[i]);
        }
        if (!plans[i].commandLog.empty()) {
            std::printf("command log, camera %-4d%s (%zu packets)\n", plans[i].number,
                        plans[i].commandLog.c_str(), results[i].commandPackets);
        }
    }
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
    if (options.cameras < 1 || options.cameras > kMaxCameras) {
        throw Failure{"--cameras must be 1 to " + std::to_string(kMaxCameras), 2};
    }
    const int cameras = static_cast<int>(options.cameras);
    std::vector<std::pair<ForCamera, Setting>> settings;
    for (const std::string& assignment : options.sets) {
        ForCamera value = SplitCameraPrefix("--set", assignment, cameras);
        settings.emplace_back(value, ParseSetting(value.value));
    }
    std::vector<std::pair<ForCamera, std::vector<LONG>>> regions;
    for (const std::string& text : options.regions) {
        ForCamera value = SplitCameraPrefix("--region", text, cameras);
        regions.emplace_back(value, ParseRegion(value.value));
    }
    const zyn::tools::DriverModel* model = zyn::tools::FindDriverModel(options.model);
    if (model == nullptr) {
        throw Failure{"no driver for model '" + options.model + "' (built: " +
                          zyn::tools::DriverModelNames() + ")",
                      2};
    }
    std::vector<std::pair<ForCamera, std::shared_ptr<const imaging::RgbImage>>> scenes;
    for (const std::string& text : options.scenes) {
        ForCamera value = SplitCameraPrefix("--scene", text, cameras);
        const sim::camera::ModelInfo& info = sim::camera::Info(model->camera);
        auto scene = std::make_shared<imaging::RgbImage>();
        std::string error;
        if (!sim::camera::SceneFromSource(value.value, info.sensorWidth, info.sensorHeight,
                                          *scene, error)) {
            throw Failure{"--scene " + value.value + ": " + error, 2};
        }
        scenes.emplace_back(value, scene);
    }

    // Values apply in the order given; a later region or scene replaces an earlier one.
    std::vector<CameraPlan> plans;
    for (int k = 1; k <= cameras; ++k) {
        CameraPlan plan;
        plan.number = k;
        plan.out = cameras == 1 ? options.out : options.out + "/camera-" + std::to_string(k);
        for (const auto& [camera, setting] : settings) {
            if (ForThisCamera(camera, k)) {
                plan.settings.push_back(setting);
            }
        }
        for (const auto& [camera, region] : regions) {
            if (ForThisCamera(camera, k)) {
                plan.region = region;
            }
        }
        for (const auto& [camera, scene] : scenes) {
            if (ForThisCamera(camera, k)) {
                plan.scene = scene;
            }
        }
        plan.frameInfo = CameraFile(options.frameInfo, k, cameras);
        plan.commandLog = CameraFile(options.commandLog, k, cameras);
        plans.push_back(std::move(plan));
    }

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

    zyn::capture::SessionOptions sessionOptions;
    sessionOptions.model = options.model;
    sessionOptions.frameInterval =
        options.unpaced ? std::chrono::nanoseconds{0} : sim::camera::kFrameInterval30;
    // The cameras of one model share their driver image, as Plug and Play loads it once.
    std::vector<std::unique_ptr<CameraCapture>> captures;
    for (const CameraPlan& plan : plans) {
        captures.push_back(std::make_unique<CameraCapture>(options, plan));
        captures.back()->Open(sessionOptions);
        sessionOptions.driver = captures.front()->session().system().driver();
    }

    const bool terminal = isatty(STDOUT_FILENO) != 0;
    FileWriter writer;
    std::atomic<bool> abort{false};
    if (cameras == 1) {
        captures.front()->Stream(writer, terminal, abort);
    } else {
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
            std::printf("\rframes %lld/%lld from %d cameras   ", delivered,
                        options.frames * cameras, cameras);
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

    std::string failure = writer.Finish();
    if (!options.registry.empty()) {
        std::string registryError;
        if (!sim::registry::Flush(&registryError) && failure.empty()) {
            failure = options.registry + ": " + registryError;
        }
        sim::registry::StopUsingFile();
    }

    if (terminal) {
        std::printf("\n");
    }
    std::vector<CameraResult> results;
    for (const auto& capture : captures) {
        results.push_back(capture->result());
    }
    if (cameras == 1) {
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
    app.add_option("--model", options.model, "camera model: " + zyn::tools::DriverModelNames());
    app.add_option("--frames", options.frames, "frames to capture (30)");
    app.add_option("--out", options.out, "folder for the pictures (capture)");
    app.add_option("--every", options.every, "write every Kth frame (1)");
    app.add_flag("--raw", options.raw, "also write the raw frame of each picture");
    app.add_option("--cameras", options.cameras,
                   "plug in N cameras of the model and stream from all at once (1); with more "
                   "than one, camera K's pictures go to DIR/camera-K");
    app.add_option("--scene", options.scenes,
                   "bars, gradient or a PNG file (bars); K:SCENE for camera K only");
    app.add_option("--set", options.sets,
                   "change a setting first: NAME=VALUE (as zyn-ctl); K:NAME=VALUE for camera K "
                   "only");
    app.add_option("--region", options.regions,
                   "region of interest: X,Y,W,H[,SUBSAMPLE]; K:X,Y,W,H for camera K only");
    app.add_option("--registry", options.registry,
                   "keep the cameras' settings in this file, each camera under a driver key of "
                   "its own (camera K: instance K-1, as 0000 for the first)");
    app.add_option("--trigger-every", options.triggerEvery,
                   "external trigger on, fired every MS milliseconds");
    app.add_flag("--unpaced", options.unpaced, "the camera sends frames as fast as asked");
    app.add_option("--command-log", options.commandLog,
                   "write every command packet the camera received to FILE (camera K of "
                   "several: FILE with -K before its extension)");
    app.add_option("--frame-info", options.frameInfo,
                   "write a CSV line per delivered frame: index, picture number, drop count, "
                   "presentation time (100 ns); camera K of several: FILE with -K before its "
                   "extension");
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
