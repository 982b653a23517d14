// The simulated kernel, as driver/wdk.h includes it in the simulated build: the subset of the
// platform that the drivers use, with the platform's names, types and status codes.
#pragma once

#include "sim/wdk/wdk_types.h"
#include "sim/wdk/ntstatus_codes.h"
#include "sim/wdk/unicode_string.h"
#include "sim/wdk/interlocked.h"
#include "sim/wdk/pool.h"
#include "sim/wdk/irql.h"
#include "sim/wdk/spin_lock.h"
#include "sim/wdk/critical_region.h"
#include "sim/wdk/float_state.h"
#include "sim/wdk/dispatcher.h"
#include "sim/wdk/events.h"
#include "sim/wdk/mutex.h"
#include "sim/wdk/objects.h"
#include "sim/wdk/threads.h"
#include "sim/wdk/clock.h"
#include "sim/wdk/device_object.h"
#include "sim/wdk/irp.h"
#include "sim/wdk/mdl.h"
#include "sim/wdk/usb.h"
#include "sim/wdk/fast_mutex.h"
