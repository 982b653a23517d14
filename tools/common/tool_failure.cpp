#include "tools/common/tool_failure.h"

#include <cstdio>
#include <exception>

namespace zyn::tools {

int RunReportingFailures(const char* tool, const std::function<int()>& run) {
    try {
        return run();
    } catch (const Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", tool, failure.message.c_str());
        return failure.exitCode;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", tool, error.what());
        return 1;
    }
}

} // namespace zyn::tools
