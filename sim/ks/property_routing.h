// Routing of property requests through automation tables, as the class driver does for
// IOCTL_KS_PROPERTY. The request is buffered: the handler sees pool copies of exactly the
// client's property and data lengths, so a handler that writes past either is reported when
// the copy is freed.
//
// Statuses, in the order the checks are made:
//   property buffer shorter than a KSPROPERTY          STATUS_INVALID_BUFFER_SIZE
//   topology request for a node the filter lacks       STATUS_NOT_FOUND
//   set GUID in neither the object's nor the class     STATUS_PROPSET_NOT_FOUND
//     driver's table
//   KSPROPERTY_TYPE_SETSUPPORT for a known set         STATUS_SUCCESS, no data
//   id not in the set                                  STATUS_NOT_FOUND
//   property buffer shorter than the item's MinProperty STATUS_INVALID_BUFFER_SIZE
//   GET or SET without a handler for that direction    STATUS_NOT_FOUND (the property does not
//                                                      exist for that operation)
//   GET with no data buffer, the item wanting MinData  STATUS_BUFFER_OVERFLOW, information =
//                                                      MinData (the size query)
//   GET or SET with a data buffer shorter than MinData STATUS_BUFFER_TOO_SMALL
//   flags other than GET, SET, SETSUPPORT and          STATUS_INVALID_PARAMETER
//     BASICSUPPORT (alone or with TOPOLOGY)
// Otherwise the handler's status. Before it runs, IoStatus.Information holds MinData for a GET
// and 0 for a SET; the handler may change it. A successful GET copies that many bytes back
// (a handler claiming more than the client's buffer is reported).
//
// BASICSUPPORT without a support handler answers the access flags: a ULONG, or a
// KSPROPERTY_DESCRIPTION when the buffer holds one (a zero-length buffer asks its size).
#pragma once

#include "sim/ks/ks.h"

namespace sim::ks {

// The pool tag of the buffered copies of a request.
constexpr ULONG kPropertyBufferTag = sim::pool::Tag("KSpr");

// `driverTable` is the object's own (may be null), `classTable` the sets the class driver
// answers for every object of the kind (may be null); an item of the driver's table wins.
// `nodes` supplies the node automation tables for topology requests (may be null).
NTSTATUS RouteProperty(const KSAUTOMATION_TABLE* driverTable,
                       const KSAUTOMATION_TABLE* classTable, const KSFILTER_DESCRIPTOR* nodes,
                       PDEVICE_OBJECT device, PFILE_OBJECT file, const void* property,
                       ULONG propertyLength, void* data, ULONG dataLength,
                       ULONG_PTR* information);

// For the class driver's own handlers of a routed request.
ULONG OutputLength(PIRP irp);
// A variable-size answer of `size` bytes: a zero-length buffer asks the size (set as the
// information, STATUS_BUFFER_OVERFLOW), a shorter one is STATUS_BUFFER_TOO_SMALL;
// STATUS_SUCCESS when the answer fits.
NTSTATUS CheckAnswerRoom(PIRP irp, ULONG size);

} // namespace sim::ks
