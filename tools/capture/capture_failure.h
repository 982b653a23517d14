// How zyn-capture ends on a problem the user can act on.
#pragma once

#include <string>

namespace zyn::capture {

// A failure the user can act on: one line, non-zero exit (2: the command line).
struct Failure {
    std::string message;
    int exitCode = 1;
};

} // namespace zyn::capture
