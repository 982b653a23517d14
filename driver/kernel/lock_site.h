// Where a lock was taken, for the simulated platform's lock-order check. Guards take it as a
// defaulted last argument, so GCC fills in the line that declared the guard, not the guard's
// own code; the Windows images ignore it.
#pragma once

namespace zyn {

struct LockSite {
    const char* file;
    int line;

    static constexpr LockSite Here(const char* file = __builtin_FILE(),
                                   int line = __builtin_LINE()) {
        return LockSite{file, line};
    }
};

} // namespace zyn
