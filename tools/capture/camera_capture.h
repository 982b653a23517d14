// One camera streaming into its folder: plugged in and set up, then streamed to the end, with
// what it counted.
#pragma once

#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sim/host/capture_session.h"
#include "tools/capture/camera_plan.h"
#include "tools/capture/capture_options.h"
#include "tools/capture/file_writer.h"
#include "tools/capture/trigger_pulses.h"

namespace zyn::capture {

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
    CameraCapture(const Options& options, CameraPlan plan)
        : options_(options), plan_(std::move(plan)) {}

    // Plugs the camera in and applies its settings.
    void Open(SessionOptions sessionOptions);

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
    void RunPin();
    void Loop(FileWriter& writer, bool progress, const std::atomic<bool>& abort);
    void Finish();

    const Options& options_;
    const CameraPlan plan_;
    zyn::capture::SessionOptions sessionOptions_;
    std::unique_ptr<CaptureSession> session_;
    std::ofstream frameInfo_;
    std::unique_ptr<TriggerPulses> trigger_;
    std::atomic<long long> delivered_{0};
    CameraResult result_;
};

} // namespace zyn::capture
