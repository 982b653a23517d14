// Runs a command-line tool as a user would from a shell, keeping what it printed on each stream.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zyn::testing {

struct ToolRun {
    int status = -1; // the exit status, -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

// `arguments` are passed through the shell, quoted as the caller needs.
inline ToolRun RunTool(const std::string& tool, const std::string& arguments) {
    static int runs = 0;
    const std::filesystem::path errFile =
        std::filesystem::temp_directory_path() /
        ("zyn-tool-err-" + std::to_string(getpid()) + "-" + std::to_string(++runs));
    const std::string command = tool + " " + arguments + " 2>" + errFile.string();
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.out.append(buffer.data(), n);
    }
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    std::stringstream text;
    text << err.rdbuf();
    run.err = text.str();
    std::filesystem::remove(errFile);
    return run;
}

} // namespace zyn::testing
