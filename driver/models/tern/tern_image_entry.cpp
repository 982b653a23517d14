// The entry point of the Windows image OculixZYNTernDS.sys.
#include "driver/models/tern/tern_driver.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    return zyn::tern::DriverEntry(driverObject, registryPath);
}
