#include "sim/wdk/verifier.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

void AbortingHandler(const char* message) {
    std::fprintf(stderr, "verifier: %s\n", message);
    std::abort();
}

std::atomic<VerifierHandler> g_handler{&AbortingHandler};

} // namespace

VerifierHandler SetVerifierHandler(VerifierHandler handler) {
    return g_handler.exchange(handler ? handler : &AbortingHandler);
}

void VerifierFail(const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    g_handler.load()(message);
}

const char* BaseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\') {
            name = p + 1;
        }
    }
    return name;
}

} // namespace sim
