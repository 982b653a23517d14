#include "sim/wdk/device_object.h"

#include <cwchar>

#include "sim/wdk/irp.h"
#include "sim/wdk/pool.h"
#include "sim/wdk/verifier.h"

namespace {

constexpr ULONG kDeviceTag = sim::pool::Tag("Devi");
constexpr ULONG kDriverTag = sim::pool::Tag("Driv");

NTSTATUS InvalidDeviceRequest(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

// A driver object and what hangs off it, in one block.
struct DriverBlock {
    DRIVER_OBJECT driver;
    DRIVER_EXTENSION extension;
    WCHAR name[64];
};

} // namespace

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driverObject, ULONG deviceExtensionSize, PUNICODE_STRING,
                        ULONG deviceType, ULONG deviceCharacteristics, BOOLEAN,
                        PDEVICE_OBJECT* deviceObject, const char* file, int line) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "IoCreateDevice");
    const size_t extensionOffset = (sizeof(DEVICE_OBJECT) + 15) & ~size_t{15};
    const size_t size = extensionOffset + deviceExtensionSize;
    auto* block =
        static_cast<uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, size, kDeviceTag, file, line));
    if (block == nullptr) {
        *deviceObject = nullptr;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memset(block, 0, size);
    auto* device = reinterpret_cast<PDEVICE_OBJECT>(block);
    device->Type = IO_TYPE_DEVICE;
    device->Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT) + deviceExtensionSize);
    device->DriverObject = driverObject;
    device->DeviceExtension = deviceExtensionSize > 0 ? block + extensionOffset : nullptr;
    device->DeviceType = deviceType;
    device->Characteristics = deviceCharacteristics;
    device->StackSize = 1;
    device->Flags = DO_DEVICE_INITIALIZING;
    device->NextDevice = driverObject->DeviceObject;
    driverObject->DeviceObject = device;
    *deviceObject = device;
    return STATUS_SUCCESS;
}

VOID IoDeleteDevice(PDEVICE_OBJECT deviceObject) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "IoDeleteDevice");
    if (deviceObject->AttachedDevice != nullptr) {
        sim::VerifierFail("IoDeleteDevice of device %p while device %p is still attached to it",
                          static_cast<void*>(deviceObject),
                          static_cast<void*>(deviceObject->AttachedDevice));
    }
    PDEVICE_OBJECT* link = &deviceObject->DriverObject->DeviceObject;
    while (*link != nullptr && *link != deviceObject) {
        link = &(*link)->NextDevice;
    }
    if (*link == nullptr) {
        sim::VerifierFail("IoDeleteDevice of %p, which is not a device of its driver",
                          static_cast<void*>(deviceObject));
        return;
    }
    *link = deviceObject->NextDevice;
    ExFreePoolWithTag(deviceObject, kDeviceTag);
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "IoAttachDeviceToDeviceStack");
    PDEVICE_OBJECT top = target;
    while (top->AttachedDevice != nullptr) {
        top = top->AttachedDevice;
    }
    top->AttachedDevice = source;
    source->StackSize = static_cast<CCHAR>(top->StackSize + 1);
    source->AlignmentRequirement = top->AlignmentRequirement;
    return top;
}

VOID IoDetachDevice(PDEVICE_OBJECT targetDevice) {
    targetDevice->AttachedDevice = nullptr;
}

namespace sim {

PDRIVER_OBJECT CreateDriverObject(const wchar_t* serviceName, const char* file, int line) {
    auto* block = static_cast<DriverBlock*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(DriverBlock), kDriverTag, file, line));
    if (block == nullptr) {
        return nullptr;
    }
    std::memset(block, 0, sizeof *block);
    std::wcsncpy(block->name, serviceName, RTL_NUMBER_OF(block->name) - 1);
    PDRIVER_OBJECT driver = &block->driver;
    driver->Type = IO_TYPE_DRIVER;
    driver->Size = sizeof(DRIVER_OBJECT);
    driver->DriverExtension = &block->extension;
    block->extension.DriverObject = driver;
    block->extension.ServiceKeyName.Buffer = block->name;
    block->extension.ServiceKeyName.Length =
        static_cast<USHORT>(std::wcslen(block->name) * sizeof(WCHAR));
    block->extension.ServiceKeyName.MaximumLength = sizeof block->name;
    driver->DriverName = block->extension.ServiceKeyName;
    for (PDRIVER_DISPATCH& dispatch : driver->MajorFunction) {
        dispatch = &InvalidDeviceRequest;
    }
    return driver;
}

void DeleteDriverObject(PDRIVER_OBJECT driverObject) {
    if (driverObject->DeviceObject != nullptr) {
        VerifierFail("driver object %p deleted while it still has device %p",
                     static_cast<void*>(driverObject),
                     static_cast<void*>(driverObject->DeviceObject));
    }
    ExFreePoolWithTag(CONTAINING_RECORD(driverObject, DriverBlock, driver), kDriverTag);
}

} // namespace sim
