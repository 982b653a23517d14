// A tool's command line parsed the same way in every tool: help on request, and any error as
// one line "TOOL: message" with exit status 2.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>

namespace zyn::tools {

// The exit status to end with when the tool should not run (help printed, or an error); none
// when the options are parsed.
std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv, const char* tool);

} // namespace zyn::tools
