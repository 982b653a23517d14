#include "tools/capture/capture_options.h"

#include <cstdint>

#include "sim/host/driver_models.h"
#include "tools/capture/capture_failure.h"

namespace zyn::capture {

void AddOptions(CLI::App& app, Options& options) {
    app.add_option("--model", options.model, "camera model: " + zyn::host::DriverModelNames());
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
}

void CheckOptions(const Options& options) {
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
}

} // namespace zyn::capture
