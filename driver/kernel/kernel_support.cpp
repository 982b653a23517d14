// What C++ needs from its runtime in a kernel image, and the platform layouts the drivers rely
// on, checked at compile time in every build.
#include "driver/wdk.h"

// URBs go to the USB stack as they are laid out here, and the frame read sizes its records by
// pointer words, so these layouts must be the platform's.
namespace {
#if defined(_WIN64) || defined(__x86_64__)
constexpr bool k64 = true;
#else
constexpr bool k64 = false;
#endif
// The size on the 64-bit platform, or on the 32-bit one.
constexpr size_t Bytes(size_t on64, size_t on32) {
    return k64 ? on64 : on32;
}
} // namespace
static_assert(sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER) == Bytes(128, 72), "bulk transfer URB");
static_assert(sizeof(_URB_SELECT_CONFIGURATION) == Bytes(88, 60), "select configuration URB");
static_assert(sizeof(_URB_PIPE_REQUEST) == Bytes(40, 24), "pipe request URB");
static_assert(sizeof(USBD_INTERFACE_INFORMATION) == Bytes(48, 36), "USBD_INTERFACE_INFORMATION");
static_assert(sizeof(USBD_PIPE_INFORMATION) == Bytes(24, 20), "USBD_PIPE_INFORMATION");
static_assert(sizeof(IO_STACK_LOCATION) == Bytes(72, 36), "IO_STACK_LOCATION");
static_assert(sizeof(USB_CONFIGURATION_DESCRIPTOR) == 9, "configuration descriptor");
static_assert(sizeof(USB_INTERFACE_DESCRIPTOR) == 9, "interface descriptor");
static_assert(sizeof(USB_ENDPOINT_DESCRIPTOR) == 7, "endpoint descriptor");
static_assert(FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data) == 12,
              "a 20-byte query buffer holds a REG_DWORD");
static_assert(IOCTL_INTERNAL_USB_SUBMIT_URB == 0x220003, "IOCTL_INTERNAL_USB_SUBMIT_URB");
static_assert(IOCTL_INTERNAL_USB_GET_PORT_STATUS == 0x220013, "IOCTL_INTERNAL_USB_GET_PORT_STATUS");
static_assert(IOCTL_INTERNAL_USB_RESET_PORT == 0x220007, "IOCTL_INTERNAL_USB_RESET_PORT");
static_assert(USBD_PORT_ENABLED == 1 && USBD_PORT_CONNECTED == 2, "port status bits");

#if !defined(ZYN_SIMULATED)
// A kernel image links no C++ runtime. A pure virtual call means a destroyed or half-built
// object was used: stop the system rather than run on.
extern "C" void __cxa_pure_virtual() {
    KeBugCheckEx(0x5A594E00, 0, 0, 0, 0);
}
#endif
