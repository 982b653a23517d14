// The one platform header of the driver sources: the real kernel, kernel streaming and USB
// headers in the Windows build, the simulated platform in the simulated build.
#pragma once

#if defined(ZYN_SIMULATED)

#include "sim/wdk/sim_wdk.h"
#include "sim/ks/ks.h"
#include "sim/ks/ksmedia.h"

#else

extern "C" {
#include <ntddk.h>
}
typedef WCHAR TCHAR; // ksmedia.h wants it; kernel code is wide throughout
#include <windef.h>
// The kernel-mode IUnknown: ks.h declares IKsReferenceClock only after it. Its interface
// macros want two attributes that only the user-mode headers define.
#ifndef DECLSPEC_NOVTABLE
#define DECLSPEC_NOVTABLE
#endif
#ifndef DECLSPEC_NOTHROW
#define DECLSPEC_NOTHROW
#endif
#include <punknown.h>
#include <ks.h>
#include <ksmedia.h>
extern "C" {
#include <usb.h>
#include <usbdlib.h>
#include <usbioctl.h>
}

#endif
