// Where a lock was taken or a pool block allocated, for the simulated platform's reports.
// Primitives take it as a defaulted last argument, so GCC fills in the line that called them
// rather than a line of the primitive; the Windows images ignore it.
#pragma once

namespace zyn {

struct CallSite {
    const char* file;
    int line;

    static constexpr CallSite Here(const char* file = __builtin_FILE(),
                                   int line = __builtin_LINE()) {
        return CallSite{file, line};
    }
};

} // namespace zyn
