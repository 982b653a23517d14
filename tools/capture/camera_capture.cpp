#include "tools/capture/camera_capture.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "oculix_zyn_properties.h"
#include "sim/camera/command_log.h"
#include "sim/host/camera_properties.h"
#include "tools/capture/capture_failure.h"

namespace zyn::capture {
namespace {

using Clock = std::chrono::steady_clock;

void Apply(const std::string& what, const zyn::host::PropertyResult& result) {
    if (!result.ok()) {
        throw Failure{what + ": " + sim::StatusName(result.status)};
    }
}

void ApplySetting(CaptureSession& session, const Setting& setting) {
    const std::vector<LONG>& v = setting.values;
    const std::string what = std::string("set ") + setting.property->name;
    if (setting.property->id == CAMPROP_REGION) {
        Apply(what, zyn::host::SetRegion(session.filter(), v[0], v[1], v[2], v[3],
                                         v.size() > 4 ? v[4] : 0));
    } else {
        Apply(what, zyn::host::SetValue(session.filter(), setting.property->id, v[0],
                                        v.size() > 1 ? v[1] : 0));
    }
}

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
    if (s.Brightness != 255)
        options += " --brightness " + std::to_string(s.Brightness);
    if (s.Contrast != 10)
        options += " --contrast " + std::to_string(s.Contrast);
    if (s.Saturation != 10)
        options += " --saturation " + std::to_string(s.Saturation);
    if (s.Hue != 0)
        options += " --hue " + std::to_string(s.Hue);
    if (s.WhiteBalance != 0) {
        options += " --awb";
    } else if (s.RedGain != 128 || s.GreenGain != 128 || s.BlueGain != 128) {
        options += " --gains " + std::to_string(s.RedGain) + "," + std::to_string(s.GreenGain) +
                   "," + std::to_string(s.BlueGain);
    }
    return options;
}

} // namespace

void CameraCapture::Open(SessionOptions sessionOptions) {
    sessionOptions.scene = plan_.scene;
    sessionOptions.driverKey = plan_.driverKey;
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
        Apply("region", zyn::host::SetRegion(session_->filter(), region[0], region[1], region[2],
                                             region[3], region.size() > 4 ? region[4] : 0));
    }
    if (options_.triggerEvery > 0) {
        Apply("external trigger", zyn::host::SetValue(session_->filter(), CAMPROP_EXTRIGGER, 1));
    }
}

void CameraCapture::RunPin() {
    NTSTATUS status = session_->CreatePin();
    if (!NT_SUCCESS(status)) {
        throw Failure{std::string("the capture pin was not created: ") + sim::StatusName(status)};
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

void CameraCapture::Loop(FileWriter& writer, bool progress, const std::atomic<bool>& abort) {
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
                throw Failure{
                    "no frame for " +
                    std::to_string(
                        std::chrono::duration_cast<std::chrono::seconds>(now - last).count()) +
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
                    const std::string raw =
                        base + ".w" + std::to_string(s.RoiW) + ".h" + std::to_string(s.RoiH) +
                        ".pitch" + std::to_string(pitch) + ".offset" +
                        std::to_string(s.RoiY * pitch + s.RoiX) + ".phase" +
                        std::to_string(session.device().BaseBayerPhase()) + ".raw";
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
                    frameInfo_ << delivered << ',' << info->PictureNumber << ',' << info->DropCount
                               << ',' << frame->header().PresentationTime.Time << '\n';
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
                throw Failure{std::string("a client frame was refused: ") +
                              sim::StatusName(status)};
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
        if (progress &&
            (now - lastProgress > std::chrono::milliseconds(100) || delivered == options_.frames)) {
            const double seconds = std::chrono::duration<double>(now - started).count();
            std::printf("\rframes %lld/%lld  %.1f frames/s  timeouts %u   ", delivered,
                        options_.frames, seconds > 0 ? delivered / seconds : 0.0,
                        session.Counters().readTimeouts);
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

void CameraCapture::Finish() {
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

} // namespace zyn::capture
