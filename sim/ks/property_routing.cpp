#include "sim/ks/property_routing.h"

#include <algorithm>

#include "sim/ks/class_driver.h"

namespace sim::ks {
namespace {

const KSPROPERTY_SET* FindSet(const KSAUTOMATION_TABLE* table, const GUID& set) {
    if (table == nullptr) {
        return nullptr;
    }
    for (ULONG i = 0; i < table->PropertySetsCount; ++i) {
        if (table->PropertySets[i].Set != nullptr && *table->PropertySets[i].Set == set) {
            return &table->PropertySets[i];
        }
    }
    return nullptr;
}

const KSPROPERTY_ITEM* FindItem(const KSAUTOMATION_TABLE* table, const KSPROPERTY_SET* set,
                                ULONG id) {
    if (set == nullptr) {
        return nullptr;
    }
    if (table->PropertyItemSize < sizeof(KSPROPERTY_ITEM)) {
        VerifierFail("automation table %p declares property items of %u bytes; a "
                     "KSPROPERTY_ITEM has %zu",
                     static_cast<const void*>(table), table->PropertyItemSize,
                     sizeof(KSPROPERTY_ITEM));
        return nullptr;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(set->PropertyItem);
    for (ULONG i = 0; i < set->PropertiesCount; ++i) {
        const auto* item =
            reinterpret_cast<const KSPROPERTY_ITEM*>(bytes + size_t{i} * table->PropertyItemSize);
        if (item->PropertyId == id) {
            return item;
        }
    }
    return nullptr;
}

// A pool copy of exactly `length` bytes of the client's buffer.
class BufferedCopy {
public:
    BufferedCopy(const void* source, ULONG length) : length_(length) {
        if (length == 0) {
            return;
        }
        block_ = ExAllocatePoolWithTag(NonPagedPool, length, kPropertyBufferTag);
        if (block_ != nullptr && source != nullptr) {
            std::memcpy(block_, source, length);
        } else if (block_ != nullptr) {
            std::memset(block_, 0, length);
        }
    }
    ~BufferedCopy() {
        if (block_ != nullptr) {
            ExFreePoolWithTag(block_, kPropertyBufferTag);
        }
    }
    BufferedCopy(const BufferedCopy&) = delete;
    BufferedCopy& operator=(const BufferedCopy&) = delete;

    bool failed() const { return length_ > 0 && block_ == nullptr; }
    void* get() const { return block_; }

private:
    ULONG length_;
    void* block_ = nullptr;
};

NTSTATUS DefaultBasicSupport(const KSPROPERTY_ITEM& item, void* data, ULONG dataLength,
                             ULONG_PTR* information) {
    const ULONG access = KSPROPERTY_TYPE_BASICSUPPORT |
                         (item.GetPropertyHandler != nullptr ? KSPROPERTY_TYPE_GET : 0) |
                         (item.SetPropertyHandler != nullptr ? KSPROPERTY_TYPE_SET : 0);
    if (dataLength == 0) {
        *information = sizeof(KSPROPERTY_DESCRIPTION);
        return STATUS_BUFFER_OVERFLOW;
    }
    if (dataLength >= sizeof(KSPROPERTY_DESCRIPTION)) {
        KSPROPERTY_DESCRIPTION description{};
        description.AccessFlags = access;
        description.DescriptionSize = sizeof description;
        description.PropTypeSet.Set = KSPROPTYPESETID_General;
        std::memcpy(data, &description, sizeof description);
        *information = sizeof description;
        return STATUS_SUCCESS;
    }
    if (dataLength >= sizeof(ULONG)) {
        std::memcpy(data, &access, sizeof access);
        *information = sizeof access;
        return STATUS_SUCCESS;
    }
    return STATUS_BUFFER_TOO_SMALL;
}

} // namespace

NTSTATUS RouteProperty(const KSAUTOMATION_TABLE* driverTable,
                       const KSAUTOMATION_TABLE* classTable, const KSFILTER_DESCRIPTOR* nodes,
                       PDEVICE_OBJECT device, PFILE_OBJECT file, const void* property,
                       ULONG propertyLength, void* data, ULONG dataLength,
                       ULONG_PTR* information) {
    *information = 0;
    if (property == nullptr || propertyLength < sizeof(KSPROPERTY)) {
        return STATUS_INVALID_BUFFER_SIZE;
    }
    if (data == nullptr) {
        dataLength = 0;
    }
    KSPROPERTY header;
    std::memcpy(&header, property, sizeof header);
    ULONG flags = header.Flags;

    if (flags & KSPROPERTY_TYPE_TOPOLOGY) {
        if (propertyLength < sizeof(KSP_NODE)) {
            return STATUS_INVALID_BUFFER_SIZE;
        }
        ULONG nodeId;
        std::memcpy(&nodeId, static_cast<const uint8_t*>(property) + offsetof(KSP_NODE, NodeId),
                    sizeof nodeId);
        if (nodes == nullptr || nodeId >= nodes->NodeDescriptorsCount) {
            return STATUS_NOT_FOUND;
        }
        const auto* node = reinterpret_cast<const KSNODE_DESCRIPTOR*>(
            reinterpret_cast<const uint8_t*>(nodes->NodeDescriptors) +
            size_t{nodeId} * nodes->NodeDescriptorSize);
        driverTable = node->AutomationTable;
        classTable = nullptr;
        flags &= ~KSPROPERTY_TYPE_TOPOLOGY;
    }

    const KSPROPERTY_SET* driverSet = FindSet(driverTable, header.Set);
    const KSPROPERTY_SET* classSet = FindSet(classTable, header.Set);
    if (driverSet == nullptr && classSet == nullptr) {
        return STATUS_PROPSET_NOT_FOUND;
    }
    if (flags == KSPROPERTY_TYPE_SETSUPPORT) {
        return STATUS_SUCCESS;
    }
    const KSPROPERTY_ITEM* item = FindItem(driverTable, driverSet, header.Id);
    if (item == nullptr) {
        item = FindItem(classTable, classSet, header.Id);
    }
    if (item == nullptr) {
        return STATUS_NOT_FOUND;
    }
    if (propertyLength < item->MinProperty) {
        return STATUS_INVALID_BUFFER_SIZE;
    }

    PFNKSHANDLER handler = nullptr;
    ULONG_PTR preset = 0;
    switch (flags) {
    case KSPROPERTY_TYPE_GET:
        handler = item->GetPropertyHandler;
        if (handler == nullptr) {
            return STATUS_NOT_FOUND;
        }
        if (dataLength < item->MinData) {
            if (dataLength == 0) {
                *information = item->MinData;
                return STATUS_BUFFER_OVERFLOW;
            }
            return STATUS_BUFFER_TOO_SMALL;
        }
        preset = item->MinData;
        break;
    case KSPROPERTY_TYPE_SET:
        handler = item->SetPropertyHandler;
        if (handler == nullptr) {
            return STATUS_NOT_FOUND;
        }
        if (dataLength < item->MinData) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        break;
    case KSPROPERTY_TYPE_BASICSUPPORT:
        handler = item->SupportHandler;
        if (handler == nullptr) {
            BufferedCopy copy(data, dataLength);
            if (copy.failed()) {
                return STATUS_INSUFFICIENT_RESOURCES;
            }
            const NTSTATUS status = DefaultBasicSupport(*item, copy.get(), dataLength, information);
            if (NT_SUCCESS(status)) {
                std::memcpy(data, copy.get(), *information);
            }
            return status;
        }
        break;
    default:
        return STATUS_INVALID_PARAMETER;
    }

    BufferedCopy propertyCopy(property, propertyLength);
    BufferedCopy dataCopy(data, dataLength);
    if (propertyCopy.failed() || dataCopy.failed()) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RequestIrp irp(device, IRP_MJ_DEVICE_CONTROL, 0, file);
    PIO_STACK_LOCATION stack = irp.stack();
    stack->Parameters.DeviceIoControl.OutputBufferLength = dataLength;
    stack->Parameters.DeviceIoControl.InputBufferLength = propertyLength;
    stack->Parameters.DeviceIoControl.IoControlCode = IOCTL_KS_PROPERTY;
    stack->Parameters.DeviceIoControl.Type3InputBuffer = propertyCopy.get();
    irp.get()->UserBuffer = dataCopy.get();
    irp.get()->AssociatedIrp.SystemBuffer = dataCopy.get();
    irp.get()->IoStatus.Information = preset;

    NTSTATUS status;
    {
        DriverCall call("a property handler");
        status = handler(irp.get(), static_cast<PKSIDENTIFIER>(propertyCopy.get()),
                         dataCopy.get());
    }
    if (status == STATUS_PENDING) {
        VerifierFail("property handler %p returned STATUS_PENDING; the class driver completes "
                     "property requests when the handler returns",
                     reinterpret_cast<void*>(handler));
        status = STATUS_UNSUCCESSFUL;
    }
    ULONG_PTR bytes = irp.get()->IoStatus.Information;
    if (NT_SUCCESS(status) && flags != KSPROPERTY_TYPE_SET) {
        if (bytes > dataLength) {
            VerifierFail("property handler %p reported %zu bytes for a data buffer of %u",
                         reinterpret_cast<void*>(handler), static_cast<size_t>(bytes),
                         dataLength);
            bytes = dataLength;
        }
        if (bytes > 0) {
            std::memcpy(data, dataCopy.get(), bytes);
        }
    }
    *information = bytes;
    return status;
}

ULONG OutputLength(PIRP irp) {
    return IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
}

NTSTATUS CheckAnswerRoom(PIRP irp, ULONG size) {
    const ULONG length = OutputLength(irp);
    if (length == 0) {
        irp->IoStatus.Information = size;
        return STATUS_BUFFER_OVERFLOW;
    }
    return length < size ? STATUS_BUFFER_TOO_SMALL : STATUS_SUCCESS;
}

} // namespace sim::ks
