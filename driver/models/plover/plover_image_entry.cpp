// The entry point of the Windows image OculixZYNPloverDS.sys.
#include "driver/models/plover/plover_driver.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    return zyn::plover::DriverEntry(driverObject, registryPath);
}
