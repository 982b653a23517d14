// The entry point of a Windows driver image; the image's build names its model
// (ZYN_IMAGE_HEADER, ZYN_IMAGE_MODEL).
#include ZYN_IMAGE_HEADER

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    return zyn::DriverImage<ZYN_IMAGE_MODEL>::DriverEntry(driverObject, registryPath);
}
