// The camera settings property set on the capture filter: every item of every model, in id
// order, each with its handler directions and minimum buffer sizes. A model's automation table
// lists the first items up to its property count (Tern 69, Heron and Egret 61, Plover 71), so
// kernel streaming itself refuses the ids a model lacks.
#pragma once

#include "driver/wdk.h"
#include "oculix_zyn_properties.h"

namespace zyn {

// Ids 0 to 70.
constexpr ULONG kCameraPropertyIdCount = CAMPROP_DOT_THRESHOLD + 1;

extern const KSPROPERTY_ITEM kCameraPropertyItems[kCameraPropertyIdCount];

// The handler of every item, both directions: KSPROPERTY_TYPE_SET selects the set path, any
// other request the get path. It finds the camera from the request's filter and answers
// STATUS_UNSUCCESSFUL when there is none.
//
// Statuses: STATUS_BUFFER_TOO_SMALL when the data buffer is missing or shorter than the
// item's record (kernel streaming checks the declared minimum first); STATUS_UNSUCCESSFUL for
// a failed or out-of-range sensor register write (57); STATUS_NOT_FOUND for an id outside the
// set. A get of a set-only item (57, 59) never reaches the handler: kernel streaming answers it
// with STATUS_NOT_FOUND, as the item declares no get handler. Everything else succeeds, also
// when the camera did not take a command: the setters then keep the value the camera has.
NTSTATUS CameraPropertyHandler(PIRP irp, PKSIDENTIFIER request, PVOID data);

// The record size of an item: 32 bytes, 48 for the region, 96 for the raw command and the
// memory byte.
constexpr ULONG CameraPropertyRecordSize(ULONG id) {
    return id == CAMPROP_REGION                                     ? sizeof(CameraRegionValue)
           : id == CAMPROP_RAW_COMMAND || id == CAMPROP_MEMORY_BYTE ? sizeof(CameraRawCommand)
                                                                    : sizeof(CameraPropertyValue);
}

} // namespace zyn
