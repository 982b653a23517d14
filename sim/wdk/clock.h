// System time and the performance counter.
#pragma once

#include "sim/wdk/wdk_types.h"

// 100-ns units since 1 January 1601 (UTC).
VOID KeQuerySystemTime(PLARGE_INTEGER currentTime);
// 100-ns units since an arbitrary start, monotonic.
ULONGLONG KeQueryInterruptTime();
LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER performanceFrequency);
