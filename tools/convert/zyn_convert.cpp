// zyn-convert: turns a raw 8-bit Bayer frame into an RGB picture with the drivers' own image
// pipeline, running on the simulated kernel. For people who record raw frames and want
// pictures, and for checking the pipeline from outside.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "driver/pipeline/color_state.h"
#include "sim/imaging/bayer.h"
#include "sim/imaging/png_file.h"
#include "tools/common/command_line.h"
#include "tools/common/number_list.h"
#include "tools/common/tool_failure.h"
#include "tools/convert/raw_frame_file.h"

namespace {

struct Options {
    std::optional<long long> width, height, pitch, offset;
    int phase = 0;
    bool mono = false;
    bool noColorCorrection = false;
    int32_t brightness = 255;
    int32_t contrast = 10;
    int32_t saturation = 10;
    int32_t hue = 0;
    std::string gains;
    bool awb = false;
    int32_t dotThreshold = 0;
    bool printGains = false;
    bool mosaic = false;
    std::string isa = "auto";
    std::string input;
    std::string output;
};

using zyn::tools::Failure;

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The frame to convert: samples, geometry and where the first pixel is.
struct Frame {
    std::vector<uint8_t> bytes;
    long long width = 0, height = 0, pitch = 0, offset = 0;
};

Frame LoadFrame(const Options& o) {
    Frame frame;
    if (o.mosaic) {
        if (o.pitch || o.offset) {
            throw Failure{"--pitch and --offset do not apply to --mosaic", 2};
        }
        imaging::RgbImage picture;
        std::string error;
        if (!imaging::ReadPng(o.input, picture, error)) {
            throw Failure{error};
        }
        if ((o.width && *o.width != picture.width) || (o.height && *o.height != picture.height)) {
            throw Failure{"--width and --height must match the picture's size " +
                              std::to_string(picture.width) + "x" + std::to_string(picture.height),
                          2};
        }
        frame.width = picture.width;
        frame.height = picture.height;
        frame.pitch = picture.width;
        frame.bytes = imaging::Mosaic(picture, o.phase);
        return frame;
    }
    convert::RawFile file;
    std::string error;
    if (!convert::ReadRawFile(o.input, file, error)) {
        throw Failure{error};
    }
    if (file.isPgm) {
        frame.width = o.width.value_or(file.pgmWidth);
        frame.height = o.height.value_or(file.pgmHeight);
        frame.pitch = o.pitch.value_or(file.pgmWidth);
    } else {
        if (!o.width || !o.height) {
            throw Failure{"--width and --height are required for a raw frame", 2};
        }
        frame.width = *o.width;
        frame.height = *o.height;
        frame.pitch = o.pitch.value_or(frame.width);
    }
    frame.offset = o.offset.value_or(0);
    frame.bytes = std::move(file.bytes);
    return frame;
}

void CheckGeometry(const Frame& f, const std::string& input) {
    if (f.width <= 0 || f.height <= 0) {
        throw Failure{"the frame size must be positive, not " + std::to_string(f.width) + "x" +
                          std::to_string(f.height),
                      2};
    }
    const long long limit = zyn::ColorState::kMaxFrameSide;
    if (f.width > limit || f.height > limit) {
        throw Failure{"the frame size " + std::to_string(f.width) + "x" + std::to_string(f.height) +
                          " exceeds the pipeline's limit of " + std::to_string(limit) +
                          " pixels a side",
                      2};
    }
    if (f.pitch < f.width) {
        throw Failure{"--pitch " + std::to_string(f.pitch) + " is smaller than the width " +
                          std::to_string(f.width),
                      2};
    }
    if (f.offset < 0 || f.offset > UINT32_MAX || f.pitch > UINT32_MAX) {
        throw Failure{"--offset and --pitch must be between 0 and 4294967295", 2};
    }
    const long long needed = f.offset + (f.height - 1) * f.pitch + f.width;
    if (static_cast<long long>(f.bytes.size()) < needed) {
        throw Failure{input + " is too short: " + std::to_string(f.bytes.size()) +
                      " bytes, the frame needs " + std::to_string(needed)};
    }
}

// Runs the drivers' conversion as a capture pin would: a colour state created with the
// creation values, given the settings in the drivers' order, then one frame.
// The vector path --isa asks for; "auto" leaves the widest the processor runs.
void RequestPath(zyn::ColorState& state, const std::string& isa) {
    if (isa == "auto") {
        return;
    }
    for (int k = 0; k < zyn::kVectorPaths; ++k) {
        const auto path = static_cast<zyn::VectorPath>(k);
        if (isa == zyn::VectorPathName(path)) {
            if (NT_SUCCESS(state.RequestVectorPath(path))) {
                return;
            }
            std::string available;
            for (int j = 0; j < zyn::kVectorPaths; ++j) {
                const auto other = static_cast<zyn::VectorPath>(j);
                if (state.SupportedPaths() & zyn::VectorPathBit(other)) {
                    available +=
                        std::string(available.empty() ? "" : ", ") + zyn::VectorPathName(other);
                }
            }
            throw Failure{"--isa " + isa + ": this processor or system cannot run it (it runs " +
                              available + ")",
                          2};
        }
    }
    throw Failure{"--isa must be sse2, avx2, avx512 or auto, not '" + isa + "'", 2};
}

std::vector<uint8_t> Convert(const Frame& f, const Options& o, int32_t gains[3]) {
    zyn::ColorState* state = new (NonPagedPool) zyn::ColorState();
    if (state == nullptr) {
        throw Failure{"out of memory"};
    }
    try {
        RequestPath(*state, o.isa);
    } catch (const Failure&) {
        delete state;
        throw;
    }
    state->SetWhiteBalance(o.awb ? 1 : 0);
    state->SetBayerPhase(o.phase);
    state->SetColorEnable(o.mono ? 0 : 1);
    state->SetRedGain(gains[0]);
    state->SetGreenGain(gains[1]);
    state->SetBlueGain(gains[2]);
    state->SetColorCorrection(o.noColorCorrection ? 0 : 1);
    state->SetBrightness(o.brightness);
    state->SetContrast(o.contrast);
    state->SetSaturation(o.saturation);
    state->SetHue(o.hue);
    state->SetDotThreshold(o.dotThreshold);

    std::vector<uint8_t> bgra(static_cast<size_t>(f.width) * f.height * 4);
    state->SetFrameSize(static_cast<ULONG>(f.width), static_cast<ULONG>(f.height));
    const NTSTATUS status = state->AllocateWorkBuffer();
    if (!NT_SUCCESS(status)) {
        delete state;
        throw Failure{"cannot allocate the working buffer"};
    }
    state->SetOutputBuffer(bgra.data());
    zyn::ConvertFrame(state, f.bytes.data(), static_cast<ULONG>(f.offset),
                      static_cast<ULONG>(f.pitch));
    gains[0] = state->GetRedGain();
    gains[1] = state->GetGreenGain();
    gains[2] = state->GetBlueGain();
    state->SetOutputBuffer(nullptr);
    delete state;
    return bgra;
}

void WriteOutput(const std::string& path, const std::vector<uint8_t>& bgra, const Frame& f) {
    if (EndsWith(path, ".png")) {
        std::string error;
        const imaging::RgbImage picture = imaging::FromBgra(
            bgra.data(), static_cast<int>(f.width), static_cast<int>(f.height), f.width * 4);
        if (!imaging::WritePng(path, picture, error)) {
            throw Failure{error};
        }
        return;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw Failure{"cannot write " + path + ": " + std::strerror(errno)};
    }
    out.write(reinterpret_cast<const char*>(bgra.data()),
              static_cast<std::streamsize>(bgra.size()));
    out.close();
    if (!out) {
        throw Failure{"cannot write " + path + ": write failed"};
    }
}

int Run(const Options& o) {
    if (o.phase < 0 || o.phase > 3) {
        throw Failure{"--phase must be 0 (GRBG), 1 (BGGR), 2 (RGGB) or 3 (GBRG), not " +
                          std::to_string(o.phase),
                      2};
    }
    if (!EndsWith(o.output, ".png") && !EndsWith(o.output, ".bgra")) {
        throw Failure{"OUTPUT must end in .png or .bgra: " + o.output, 2};
    }
    int32_t gains[3] = {128, 128, 128};
    if (!o.gains.empty()) {
        const std::optional<std::vector<long long>> given =
            zyn::tools::ParseNumberList(o.gains, INT32_MIN, INT32_MAX);
        if (!given || given->size() != 3) {
            throw Failure{"--gains must be three integers R,G,B, not '" + o.gains + "'", 2};
        }
        std::copy(given->begin(), given->end(), gains);
    }
    Frame frame = LoadFrame(o);
    CheckGeometry(frame, o.input);
    const std::vector<uint8_t> bgra = Convert(frame, o, gains);
    WriteOutput(o.output, bgra, frame);
    if (o.printGains) {
        std::printf("gains %d %d %d\n", gains[0], gains[1], gains[2]);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    CLI::App app{"Converts a raw 8-bit Bayer frame into an RGB picture with the camera drivers' "
                 "image pipeline.",
                 "zyn-convert"};
    app.add_option("--width", o.width, "Frame width in pixels");
    app.add_option("--height", o.height, "Frame height in pixels");
    app.add_option("--phase", o.phase, "Bayer phase: 0 GRBG, 1 BGGR, 2 RGGB, 3 GBRG")->required();
    app.add_option("--pitch", o.pitch, "Bytes from one raw row to the next (default: the width)");
    app.add_option("--offset", o.offset, "Byte offset of the first pixel (default 0)");
    app.add_flag("--mono", o.mono, "Grey output");
    app.add_flag("--no-color-correction", o.noColorCorrection, "Leave out the colour correction");
    app.add_option("--brightness", o.brightness, "0 to 510, neutral 255 (default)");
    app.add_option("--contrast", o.contrast, "0 to 20, neutral 10 (default)");
    app.add_option("--saturation", o.saturation, "0 to 20, neutral 10 (default)");
    app.add_option("--hue", o.hue, "Hue rotation in degrees (default 0)");
    app.add_option("--gains", o.gains, "Red, green and blue gains R,G,B; 128 = 1.0 (default)");
    app.add_flag("--awb", o.awb, "Automatic white balance");
    app.add_option("--dot-threshold", o.dotThreshold, "Dot filter threshold; 0 = off (default)");
    app.add_flag("--print-gains", o.printGains, "Print the gains the frame was converted with");
    app.add_flag("--mosaic", o.mosaic,
                 "INPUT is a colour PNG, sampled into a Bayer frame of the phase first");
    app.add_option("--isa", o.isa,
                   "Vector path: sse2, avx2, avx512 or auto (default: the widest available)");
    app.add_option("INPUT", o.input, "Raw 8-bit frame or binary PGM (a PNG with --mosaic)")
        ->required();
    app.add_option("OUTPUT", o.output, "Picture: .png (RGB) or .bgra (the frame buffer)")
        ->required();
    if (const std::optional<int> exitStatus =
            zyn::tools::ParseCommandLine(app, argc, argv, "zyn-convert")) {
        return *exitStatus;
    }
    return zyn::tools::RunReportingFailures("zyn-convert", [&] { return Run(o); });
}
