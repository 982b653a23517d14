// How a tool ends on a problem the user can act on.
#pragma once

#include <functional>
#include <string>

namespace zyn::tools {

// A failure the user can act on: one line, non-zero exit (2: the command line).
struct Failure {
    std::string message;
    int exitCode = 1;
};

// The exit status of `run`; a Failure it throws, or any other exception, ends it with one line
// "TOOL: message" after what it printed so far.
int RunReportingFailures(const char* tool, const std::function<int()>& run);

} // namespace zyn::tools
