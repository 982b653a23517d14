// The simulated kernel, as driver/wdk.h includes it in the simulated build: the subset of the
// platform that the drivers use, with the platform's names, types and status codes.
#pragma once

#include "sim/wdk/wdk_types.h"
#include "sim/wdk/ntstatus_codes.h"
#include "sim/wdk/interlocked.h"
#include "sim/wdk/pool.h"
#include "sim/wdk/critical_region.h"
#include "sim/wdk/float_state.h"
#include "sim/wdk/fast_mutex.h"
