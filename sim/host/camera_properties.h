// Requests of the camera settings property set as an application sends them: the request
// record travels as the property and as the data buffer.
#pragma once

#include <array>
#include <cstdint>

#include "oculix_zyn_properties.h"
#include "sim/host/host.h"

namespace zyn::host {

using sim::host::PropertyResult;

// The value of a scalar item.
PropertyResult GetValue(sim::host::Filter& filter, ULONG id, LONG* value);
// Sets a scalar item; `extra` is the word behind the value (the register value of
// CAMPROP_SENSOR_REGISTER).
PropertyResult SetValue(sim::host::Filter& filter, ULONG id, LONG value, LONG extra = 0);
PropertyResult SetRegion(sim::host::Filter& filter, LONG x, LONG y, LONG width, LONG height,
                         LONG subSample = 0);
PropertyResult SendRawCommand(sim::host::Filter& filter, LONG length,
                              const std::array<uint8_t, 64>& bytes);
// The byte at the selected address (CAMPROP_MEMORY_BYTE): Data[0] of the answer, which keeps
// `*byte` when the camera does not answer.
PropertyResult ReadMemoryByte(sim::host::Filter& filter, uint8_t* byte);
// The directions the filter offers for an item (KSPROPERTY_TYPE_GET, _SET), or the status of
// an item the model lacks.
PropertyResult Support(sim::host::Filter& filter, ULONG id, ULONG* access);

// The record size the driver expects for the item.
ULONG RecordSize(ULONG id);

} // namespace zyn::host
