// The smallest driver image: loads, allocates and frees one block, and refuses to stay loaded.
#include "driver/wdk.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    UNREFERENCED_PARAMETER(driverObject);
    UNREFERENCED_PARAMETER(registryPath);
    constexpr ULONG kTag = 0x6B636849; // "Ihck"
    PVOID block = ExAllocatePoolWithTag(NonPagedPool, 16, kTag);
    if (block != nullptr) {
        ExFreePoolWithTag(block, kTag);
    }
    return STATUS_UNSUCCESSFUL;
}
