#include "tools/common/command_line.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace zyn::tools {

std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv, const char* tool) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        // Some of the library's messages span lines; a tool's error is one.
        std::string message = error.what();
        std::replace(message.begin(), message.end(), '\n', ' ');
        std::fprintf(stderr, "%s: %s\n", tool, message.c_str());
        return 2;
    }
    return std::nullopt;
}

} // namespace zyn::tools
