#include "driver/core/interim_capture_pin.h"

namespace zyn {

const KSPIN_DISPATCH kCapturePinDispatch = {};

NTSTATUS CapturePinIntersect(PVOID, PIRP, PKSP_PIN, PKSDATARANGE, PKSDATARANGE, ULONG, PVOID,
                             PULONG dataSize) {
    *dataSize = 0;
    return STATUS_NO_MATCH;
}

} // namespace zyn
