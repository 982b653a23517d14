// zyn-capture's command line: the options as given, and their checks.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace zyn::capture {

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

// Declares every option on `app`, to be parsed into `options`.
void AddOptions(CLI::App& app, Options& options);

// Throws a Failure (exit code 2) for values out of their range.
void CheckOptions(const Options& options);

} // namespace zyn::capture
