// Bookkeeping of one outstanding request of a frame's split bulk read. A frame's records form
// an array with one unused record (null owner) after the last request.
#pragma once

#include "driver/wdk.h"

namespace zyn {

class UsbTransport;

struct BulkChunkRecord {
    UsbTransport* owner; // null: unused
    PURB urb;
    PIRP irp;
    PMDL mdl;           // partial MDL of this chunk of the frame buffer
    volatile LONG done; // raised by the completion routine
};

// What one chunk's request is made of, kept from frame to frame: the IRP is reused, the URB
// rebuilt and the partial MDL rebuilt over the new frame buffer. Null parts are not yet
// allocated.
struct BulkChunkKit {
    PIRP irp;
    PURB urb;
    PMDL mdl;
};

// Requests of `length` bytes cut into chunks of kBulkChunkBytes, the last taking the rest.
constexpr ULONG kBulkChunkBytes = 65536;
constexpr ULONG BulkChunkCount(ULONG length) {
    return length / kBulkChunkBytes + (length % kBulkChunkBytes != 0 ? 1 : 0);
}

} // namespace zyn
