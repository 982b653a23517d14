#include "sim/wdk/clock.h"

#include <chrono>

namespace {
// Seconds between 1601-01-01 and 1970-01-01.
constexpr LONGLONG kEpochDifference = 11644473600LL;
} // namespace

VOID KeQuerySystemTime(PLARGE_INTEGER currentTime) {
    const auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    currentTime->QuadPart = since1970.count() / 100 + kEpochDifference * 10000000LL;
}

ULONGLONG KeQueryInterruptTime() {
    return static_cast<ULONGLONG>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count() /
                                  100);
}

LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER performanceFrequency) {
    if (performanceFrequency != nullptr) {
        performanceFrequency->QuadPart = 10000000; // 100-ns ticks
    }
    LARGE_INTEGER counter;
    counter.QuadPart = static_cast<LONGLONG>(KeQueryInterruptTime());
    return counter;
}
