// Stand-in for the capture pin's dispatch table and data intersection handler until the
// streaming code provides them; the pin descriptor refers to these names.
#pragma once

#include "driver/wdk.h"

namespace zyn {

extern const KSPIN_DISPATCH kCapturePinDispatch;
NTSTATUS CapturePinIntersect(PVOID context, PIRP irp, PKSP_PIN pin, PKSDATARANGE callerRange,
                             PKSDATARANGE descriptorRange, ULONG bufferSize, PVOID data,
                             PULONG dataSize);

} // namespace zyn
