// The entry point of the Windows image OculixZYNEgretDS.sys.
#include "driver/models/egret/egret_driver.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    return zyn::egret::DriverEntry(driverObject, registryPath);
}
