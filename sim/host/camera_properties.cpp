#include "sim/host/camera_properties.h"

#include <cstring>

namespace zyn::host {

namespace {

// A request record of any item: the largest record, 8-byte aligned.
union Record {
    CameraPropertyValue scalar;
    CameraRegionValue region;
    CameraRawCommand raw;
    uint64_t align[sizeof(CameraRawCommand) / 8];
};

Record NewRecord(ULONG id, ULONG flags) {
    Record record;
    std::memset(&record, 0, sizeof record);
    record.scalar.Set = KSPROPSETID_CameraSettings;
    record.scalar.Id = id;
    record.scalar.Flags = flags;
    return record;
}

PropertyResult Send(sim::host::Filter& filter, Record& record) {
    const ULONG size = RecordSize(record.scalar.Id);
    Record property = record;
    return filter.RawProperty(&property, size, &record, size);
}

} // namespace

ULONG RecordSize(ULONG id) {
    switch (id) {
    case CAMPROP_REGION:
        return sizeof(CameraRegionValue);
    case CAMPROP_RAW_COMMAND:
    case CAMPROP_MEMORY_BYTE:
        return sizeof(CameraRawCommand);
    default:
        return sizeof(CameraPropertyValue);
    }
}

PropertyResult GetValue(sim::host::Filter& filter, ULONG id, LONG* value) {
    Record record = NewRecord(id, KSPROPERTY_TYPE_GET);
    PropertyResult result = Send(filter, record);
    if (result.ok()) {
        *value = record.scalar.Value;
    }
    return result;
}

PropertyResult SetValue(sim::host::Filter& filter, ULONG id, LONG value, LONG extra) {
    Record record = NewRecord(id, KSPROPERTY_TYPE_SET);
    record.scalar.Value = value;
    record.scalar.Reserved = extra;
    return Send(filter, record);
}

PropertyResult SetRegion(sim::host::Filter& filter, LONG x, LONG y, LONG width, LONG height,
                         LONG subSample) {
    Record record = NewRecord(CAMPROP_REGION, KSPROPERTY_TYPE_SET);
    record.region.SubSample = subSample;
    record.region.X = x;
    record.region.Y = y;
    record.region.Width = width;
    record.region.Height = height;
    return Send(filter, record);
}

PropertyResult SendRawCommand(sim::host::Filter& filter, LONG length,
                              const std::array<uint8_t, 64>& bytes) {
    Record record = NewRecord(CAMPROP_RAW_COMMAND, KSPROPERTY_TYPE_SET);
    record.raw.Length = length;
    std::memcpy(record.raw.Data, bytes.data(), bytes.size());
    return Send(filter, record);
}

PropertyResult ReadMemoryByte(sim::host::Filter& filter, uint8_t* byte) {
    Record record = NewRecord(CAMPROP_MEMORY_BYTE, KSPROPERTY_TYPE_GET);
    record.raw.Data[0] = *byte;
    PropertyResult result = Send(filter, record);
    if (result.ok()) {
        *byte = record.raw.Data[0];
    }
    return result;
}

PropertyResult Support(sim::host::Filter& filter, ULONG id, ULONG* access) {
    // The items want their whole record as the property, also for this request.
    Record property = NewRecord(id, KSPROPERTY_TYPE_BASICSUPPORT);
    ULONG flags = 0;
    PropertyResult result = filter.RawProperty(&property, RecordSize(id), &flags, sizeof flags);
    if (result.ok()) {
        *access = flags & (KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET);
    }
    return result;
}

} // namespace zyn::host
