#include "tools/capture/capture_summary.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace zyn::capture {
namespace {

void PrintRawCommand(const char* heading, const CameraResult& result) {
    std::printf("%-24szyn-convert %s %s picture.png\n", heading, result.convertOptions.c_str(),
                result.firstRaw.c_str());
    if (result.cropped || result.flipped) {
        std::printf("                        (the delivered picture is%s%s)\n",
                    result.cropped
                        ? (" its left " + std::to_string(result.outputWidth) + " columns").c_str()
                        : "",
                    result.flipped ? (result.cropped ? ", flipped as set" : " flipped as set")
                                   : "");
    }
}

// What the driver counted of one camera's stream or of all cameras'.
void PrintDriverCounts(const Options& options, const CameraResult& r) {
    std::printf("frames read by driver   %u\n", r.framesRead);
    // Raw frames that never reached the client before the last one delivered, as the driver
    // counted them: overwritten in the driver, or converted while no client frame was waiting.
    std::printf("frames dropped          %lld\n", r.drops);
    std::printf("read timeouts           %u\n", r.readTimeouts);
    if (options.replugAfter > 0) {
        std::printf("replugs                 %lld\n", r.replugs);
    }
}

} // namespace

void PrintSummary(const Options& options, const CameraResult& r) {
    std::printf("frames delivered        %lld\n", r.delivered);
    PrintDriverCounts(options, r);
    std::printf("mean frames per second  %.1f\n",
                r.seconds > 0 ? (r.delivered - 1) / r.seconds : 0.0);
    std::printf("mean conversion time    %.2f ms\n", r.meanConversionMs);
    if (!r.written.empty()) {
        std::printf("pictures                %zu in %s (%s ... %s)\n", r.written.size(),
                    options.out.c_str(),
                    std::filesystem::path(r.written.front()).filename().c_str(),
                    std::filesystem::path(r.written.back()).filename().c_str());
    }
    if (!r.firstRaw.empty()) {
        PrintRawCommand("raw frames", r);
    }
    if (!options.commandLog.empty()) {
        std::printf("command log             %s (%zu packets)\n", options.commandLog.c_str(),
                    r.commandPackets);
    }
}

void PrintSummary(const Options& options, const std::vector<CameraPlan>& plans,
                  const std::vector<CameraResult>& results) {
    CameraResult total;
    double conversionMs = 0;
    for (size_t i = 0; i < results.size(); ++i) {
        const CameraResult& r = results[i];
        const std::string heading = "camera " + std::to_string(plans[i].number);
        std::printf(
            "%-24sframes %lld, written %zu, dropped %lld, replugs %lld, %.1f frames/s, in %s\n",
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
    PrintDriverCounts(options, total);
    std::printf("mean conversion time    %.2f ms\n",
                conversionMs / static_cast<double>(results.size()));
    for (size_t i = 0; i < results.size(); ++i) {
        if (!results[i].firstRaw.empty()) {
            PrintRawCommand(("raw frames, camera " + std::to_string(plans[i].number)).c_str(),
                            results[i]);
        }
        if (!plans[i].commandLog.empty()) {
            std::printf("command log, camera %-4d%s (%zu packets)\n", plans[i].number,
                        plans[i].commandLog.c_str(), results[i].commandPackets);
        }
    }
}

} // namespace zyn::capture
