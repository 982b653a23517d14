// The entry point of the Windows image OculixZYNHeronDS.sys.
#include "driver/models/heron/heron_driver.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    return zyn::heron::DriverEntry(driverObject, registryPath);
}
