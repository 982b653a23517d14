#include "sim/wdk/usb.h"

#include "sim/wdk/pool.h"
#include "sim/wdk/verifier.h"

PUSB_INTERFACE_DESCRIPTOR
USBD_ParseConfigurationDescriptorEx(PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptor,
                                    PVOID startPosition, LONG interfaceNumber,
                                    LONG alternateSetting, LONG interfaceClass,
                                    LONG interfaceSubClass, LONG interfaceProtocol) {
    auto* base = reinterpret_cast<PUCHAR>(configurationDescriptor);
    PUCHAR end = base + configurationDescriptor->wTotalLength;
    auto* p = static_cast<PUCHAR>(startPosition);
    if (p < base || p > end) {
        sim::VerifierFail("USBD_ParseConfigurationDescriptorEx: the start position lies outside "
                          "the configuration descriptor");
        return nullptr;
    }
    // Every descriptor must fit inside wTotalLength; a zero length would never advance.
    while (p + sizeof(USB_COMMON_DESCRIPTOR) <= end) {
        auto* common = reinterpret_cast<PUSB_COMMON_DESCRIPTOR>(p);
        if (common->bLength < sizeof(USB_COMMON_DESCRIPTOR) || p + common->bLength > end) {
            return nullptr;
        }
        if (common->bDescriptorType == USB_INTERFACE_DESCRIPTOR_TYPE &&
            common->bLength >= sizeof(USB_INTERFACE_DESCRIPTOR)) {
            auto* interface = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(p);
            if ((interfaceNumber == -1 || interface->bInterfaceNumber == interfaceNumber) &&
                (alternateSetting == -1 || interface->bAlternateSetting == alternateSetting) &&
                (interfaceClass == -1 || interface->bInterfaceClass == interfaceClass) &&
                (interfaceSubClass == -1 || interface->bInterfaceSubClass == interfaceSubClass) &&
                (interfaceProtocol == -1 || interface->bInterfaceProtocol == interfaceProtocol)) {
                return interface;
            }
        }
        p += common->bLength;
    }
    return nullptr;
}

PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptor,
                                       PUSBD_INTERFACE_LIST_ENTRY interfaceList) {
    ULONG interfaces = 0;
    ULONG pipes = 0;
    for (PUSBD_INTERFACE_LIST_ENTRY entry = interfaceList; entry->InterfaceDescriptor != nullptr;
         ++entry) {
        ++interfaces;
        pipes += entry->InterfaceDescriptor->bNumEndpoints;
    }
    if (interfaces == 0) {
        return nullptr;
    }
    const size_t size = GET_SELECT_CONFIGURATION_REQUEST_SIZE(interfaces, pipes);
    auto* urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, size, sim::pool::kUsbdTag));
    if (urb == nullptr) {
        return nullptr;
    }
    std::memset(urb, 0, size);
    auto* info = &urb->UrbSelectConfiguration.Interface;
    for (PUSBD_INTERFACE_LIST_ENTRY entry = interfaceList; entry->InterfaceDescriptor != nullptr;
         ++entry) {
        PUSB_INTERFACE_DESCRIPTOR descriptor = entry->InterfaceDescriptor;
        entry->Interface = info;
        info->Length = static_cast<USHORT>(GET_USBD_INTERFACE_SIZE(descriptor->bNumEndpoints));
        info->InterfaceNumber = descriptor->bInterfaceNumber;
        info->AlternateSetting = descriptor->bAlternateSetting;
        info->NumberOfPipes = descriptor->bNumEndpoints;
        for (ULONG i = 0; i < descriptor->bNumEndpoints; ++i) {
            info->Pipes[i].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
            info->Pipes[i].PipeFlags = 0;
        }
        info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(reinterpret_cast<PUCHAR>(info) +
                                                             info->Length);
    }
    UsbBuildSelectConfigurationRequest(urb, static_cast<USHORT>(size), configurationDescriptor);
    return urb;
}
