#include "driver/protocol/usb_transport.h"

#include "driver/kernel/interlocked.h"
#include "driver/kernel/pool_pointer.h"
#include "driver/pool_tags.h"

namespace zyn {

namespace {

template <typename T> VOID FreeAndClear(T*& block) {
    if (block != nullptr) {
        ExFreePoolWithTag(const_cast<void*>(static_cast<const volatile void*>(block)), kTagOther);
        block = nullptr;
    }
}

template <typename T> using OtherPool = PoolPointer<T, kTagOther>;

// Configuration 0 is the camera's only one; interface numbers are looked up to this bound.
constexpr LONG kInterfaceNumberLimit = 256;

} // namespace

UsbTransport::UsbTransport() {
    KeInitializeSpinLock(&submitLock_);
    KeInitializeEvent(&readCompleted_, NotificationEvent, FALSE);
}

UsbTransport::~UsbTransport() {
    FreeConfiguration();
    FreeAndClear(records_);
}

VOID UsbTransport::Attach(PDEVICE_OBJECT physical, PDEVICE_OBJECT next, PDEVICE_OBJECT functional) {
    physical_ = physical;
    next_ = next;
    functional_ = functional;
}

NTSTATUS UsbTransport::SendIoctl(ULONG code, PVOID argument) {
    if (next_ == nullptr) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus;
    ioStatus.Status = STATUS_UNSUCCESSFUL;
    ioStatus.Information = 0;
    PIRP irp =
        IoBuildDeviceIoControlRequest(code, next_, nullptr, 0, nullptr, 0, TRUE, &event, &ioStatus);
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = argument;
    NTSTATUS status = IoCallDriver(next_, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        status = ioStatus.Status;
    }
    return status;
}

NTSTATUS UsbTransport::SubmitUrb(PURB urb) {
    return SendIoctl(IOCTL_INTERNAL_USB_SUBMIT_URB, urb);
}

namespace {

NTSTATUS NTAPI BoundedRequestCompleted(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    // The submitter frees the IRP once it has seen this.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

} // namespace

NTSTATUS UsbTransport::SubmitUrbWithin(PURB urb, ULONG timeoutMs) {
    if (next_ == nullptr) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    // An IRP of our own rather than a built one: after a timeout it is cancelled, and only an
    // IRP that cannot be completed and freed under us can be cancelled safely.
    PIRP irp = IoAllocateIrp(static_cast<CCHAR>(next_->StackSize + 1), FALSE);
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    KEVENT completed;
    KeInitializeEvent(&completed, NotificationEvent, FALSE);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    IoSetCompletionRoutine(irp, &BoundedRequestCompleted, &completed, TRUE, TRUE, TRUE);
    (VOID) IoCallDriver(next_, irp);

    LARGE_INTEGER wait;
    wait.QuadPart = -static_cast<LONGLONG>(timeoutMs) * 10000;
    BOOLEAN timedOut = FALSE;
    if (KeWaitForSingleObject(&completed, Executive, KernelMode, FALSE, &wait) == STATUS_TIMEOUT) {
        timedOut = TRUE;
        (VOID) IoCancelIrp(irp);
        KeWaitForSingleObject(&completed, Executive, KernelMode, FALSE, nullptr);
    }
    NTSTATUS status = irp->IoStatus.Status;
    // One that completed in the moment between the timeout and the cancel stands as it came.
    if (timedOut && status == STATUS_CANCELLED) {
        status = STATUS_IO_TIMEOUT;
    }
    IoFreeIrp(irp);
    return status;
}

VOID UsbTransport::RecoverPipe(ULONG pipe, NTSTATUS status, USBD_STATUS usbdStatus) {
    if (status == STATUS_IO_TIMEOUT || usbdStatus == USBD_STATUS_STALL_PID ||
        usbdStatus == USBD_STATUS_ENDPOINT_HALTED) {
        if (!NT_SUCCESS(ResetPipe(pipe))) {
            RecoverPort();
        }
    } else if (usbdStatus == USBD_STATUS_DEV_NOT_RESPONDING) {
        RecoverPort();
    }
}

NTSTATUS UsbTransport::CheckPipe(ULONG pipe, PUSBD_PIPE_INFORMATION* info) const {
    if (interface_ == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    if (interface_->NumberOfPipes == 0 || pipe >= interface_->NumberOfPipes) {
        return STATUS_INVALID_PARAMETER;
    }
    PUSBD_PIPE_INFORMATION candidate = &interface_->Pipes[pipe];
    if (candidate->PipeType != UsbdPipeTypeBulk && candidate->PipeType != UsbdPipeTypeInterrupt) {
        return STATUS_INVALID_PARAMETER;
    }
    if (candidate->PipeHandle == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    *info = candidate;
    return STATUS_SUCCESS;
}

NTSTATUS UsbTransport::PipeTransfer(ULONG pipe, ULONG length, PVOID buffer, PULONG transferred) {
    *transferred = 0;
    PUSBD_PIPE_INFORMATION info = nullptr;
    NTSTATUS status = CheckPipe(pipe, &info);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (length > info->MaximumTransferSize) {
        return STATUS_INVALID_PARAMETER;
    }
    const USHORT size = sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER);
    auto urb = OtherPool<URB>::Zeroed(size);
    if (!urb) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ULONG flags = USBD_SHORT_TRANSFER_OK;
    if (USB_ENDPOINT_DIRECTION_IN(info->EndpointAddress)) {
        flags |= USBD_TRANSFER_DIRECTION_IN;
    }
    UsbBuildInterruptOrBulkTransferRequest(urb.get(), size, info->PipeHandle, buffer, nullptr,
                                           length, flags, nullptr);
    status = SubmitUrbWithin(urb.get(), kPipeTransferTimeoutMs);
    const USBD_STATUS usbdStatus = urb->UrbHeader.Status;
    if (NT_SUCCESS(status)) {
        if (USBD_ERROR(usbdStatus)) {
            status = STATUS_UNSUCCESSFUL;
        } else {
            *transferred = urb->UrbBulkOrInterruptTransfer.TransferBufferLength;
        }
    }
    if (!NT_SUCCESS(status)) {
        RecoverPipe(pipe, status, usbdStatus);
    }
    return status;
}

NTSTATUS UsbTransport::PipeRequest(USHORT function, USBD_PIPE_HANDLE handle) {
    const USHORT size = sizeof(struct _URB_PIPE_REQUEST);
    auto urb = OtherPool<URB>::Zeroed(size);
    if (!urb) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    urb->UrbHeader.Length = size;
    urb->UrbHeader.Function = function;
    urb->UrbPipeRequest.PipeHandle = handle;
    return SubmitUrb(urb.get());
}

NTSTATUS UsbTransport::ResetPipe(ULONG pipe) {
    if (interface_ == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    if (pipe >= interface_->NumberOfPipes) {
        return STATUS_INVALID_PARAMETER;
    }
    const USBD_PIPE_HANDLE handle = interface_->Pipes[pipe].PipeHandle;
    if (handle == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    const NTSTATUS status = PipeRequest(URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, handle);
    return NT_SUCCESS(status) ? STATUS_SUCCESS : status;
}

VOID UsbTransport::MarkPipeForAbort(ULONG pipe) {
    if (abortMarks_ != nullptr && interface_ != nullptr && pipe < interface_->NumberOfPipes) {
        InterlockedExchange(&abortMarks_[pipe], 1);
    }
}

NTSTATUS UsbTransport::AbortPipes() {
    if (interface_ == nullptr || abortMarks_ == nullptr) {
        return STATUS_SUCCESS;
    }
    for (ULONG pipe = 0; pipe < interface_->NumberOfPipes; ++pipe) {
        if (ReadInterlocked(&abortMarks_[pipe]) == 0) {
            continue;
        }
        const NTSTATUS status =
            PipeRequest(URB_FUNCTION_ABORT_PIPE, interface_->Pipes[pipe].PipeHandle);
        if (status == STATUS_INSUFFICIENT_RESOURCES) {
            return status;
        }
        if (NT_SUCCESS(status)) {
            InterlockedExchange(&abortMarks_[pipe], 0);
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS UsbTransport::GetPortStatus(PULONG portStatus) {
    ULONG word = 0;
    const NTSTATUS status = SendIoctl(IOCTL_INTERNAL_USB_GET_PORT_STATUS, &word);
    *portStatus = word;
    return status;
}

NTSTATUS UsbTransport::ResetPort() {
    return SendIoctl(IOCTL_INTERNAL_USB_RESET_PORT, nullptr);
}

VOID UsbTransport::RecoverPort() {
    ULONG portStatus = 0;
    if (NT_SUCCESS(GetPortStatus(&portStatus)) && (portStatus & USBD_PORT_CONNECTED) != 0 &&
        (portStatus & USBD_PORT_ENABLED) == 0) {
        // Nothing more can be done here when the reset fails; the next read tries again.
        (VOID) ResetPort();
    }
}

NTSTATUS UsbTransport::ReadDescriptor(PURB urb, UCHAR type, PVOID buffer, ULONG length,
                                      PULONG received) {
    const USHORT size = sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST);
    RtlZeroMemory(urb, size);
    UsbBuildGetDescriptorRequest(urb, size, type, 0, 0, buffer, nullptr, length, nullptr);
    NTSTATUS status = SubmitUrb(urb);
    if (NT_SUCCESS(status) && USBD_ERROR(urb->UrbHeader.Status)) {
        status = STATUS_UNSUCCESSFUL;
    }
    *received = NT_SUCCESS(status) ? urb->UrbControlDescriptorRequest.TransferBufferLength : 0;
    return status;
}

VOID UsbTransport::FreeConfiguration() {
    FreeChunkKits();
    FreeAndClear(configuration_);
    FreeAndClear(interface_);
    FreeAndClear(abortMarks_);
}

NTSTATUS UsbTransport::Configure() {
    // A configuration left from an earlier start is replaced, not leaked.
    FreeConfiguration();

    auto urb = OtherPool<URB>::Zeroed(sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
    if (!urb) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ULONG received = 0;

    // The device descriptor is read only to see the device answer.
    auto device = OtherPool<USB_DEVICE_DESCRIPTOR>::Zeroed(sizeof(USB_DEVICE_DESCRIPTOR));
    if (!device) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = ReadDescriptor(urb.get(), USB_DEVICE_DESCRIPTOR_TYPE, device.get(),
                                     sizeof(USB_DEVICE_DESCRIPTOR), &received);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    // The configuration's header gives the size of the whole set of descriptors.
    auto header =
        OtherPool<USB_CONFIGURATION_DESCRIPTOR>::Zeroed(sizeof(USB_CONFIGURATION_DESCRIPTOR));
    if (!header) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    status = ReadDescriptor(urb.get(), USB_CONFIGURATION_DESCRIPTOR_TYPE, header.get(),
                            sizeof(USB_CONFIGURATION_DESCRIPTOR), &received);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const ULONG total = header->wTotalLength;
    if (received < sizeof(USB_CONFIGURATION_DESCRIPTOR) ||
        total < sizeof(USB_CONFIGURATION_DESCRIPTOR)) {
        return STATUS_DEVICE_DATA_ERROR;
    }

    auto configuration = OtherPool<USB_CONFIGURATION_DESCRIPTOR>::Zeroed(total);
    if (!configuration) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    status = ReadDescriptor(urb.get(), USB_CONFIGURATION_DESCRIPTOR_TYPE, configuration.get(),
                            total, &received);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    // Parsing reads up to wTotalLength: a device that sent less (or changed its mind about the
    // length) is not believed.
    if (received != total || configuration->wTotalLength != total) {
        return STATUS_DEVICE_DATA_ERROR;
    }

    status = SelectConfiguration(configuration.get());
    if (NT_SUCCESS(status)) {
        configuration_ = configuration.release();
    }
    return status;
}

NTSTATUS UsbTransport::SelectConfiguration(PUSB_CONFIGURATION_DESCRIPTOR configuration) {
    const ULONG interfaces = configuration->bNumInterfaces;
    if (interfaces == 0) {
        return STATUS_DEVICE_DATA_ERROR;
    }
    auto list = OtherPool<USBD_INTERFACE_LIST_ENTRY>::Zeroed((interfaces + 1) *
                                                             sizeof(USBD_INTERFACE_LIST_ENTRY));
    if (!list) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ULONG found = 0;
    for (LONG number = 0; number < kInterfaceNumberLimit && found < interfaces; ++number) {
        PUSB_INTERFACE_DESCRIPTOR descriptor = USBD_ParseConfigurationDescriptorEx(
            configuration, configuration, number, 0, -1, -1, -1);
        if (descriptor != nullptr) {
            list[found++].InterfaceDescriptor = descriptor;
        }
    }
    if (found == 0) {
        return STATUS_DEVICE_DATA_ERROR;
    }

    PURB select = USBD_CreateConfigurationRequestEx(configuration, list.get());
    if (select == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    PUSBD_INTERFACE_INFORMATION selected = list[0].Interface;
    for (ULONG pipe = 0; pipe < selected->NumberOfPipes; ++pipe) {
        selected->Pipes[pipe].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
    }
    NTSTATUS status = SubmitUrb(select);
    if (NT_SUCCESS(status)) {
        auto copy = OtherPool<USBD_INTERFACE_INFORMATION>::Zeroed(selected->Length);
        const ULONG marks = selected->NumberOfPipes > 0 ? selected->NumberOfPipes : 1;
        auto abortMarks = OtherPool<volatile LONG>::Zeroed(marks * sizeof(LONG));
        if (!copy || !abortMarks) {
            status = STATUS_INSUFFICIENT_RESOURCES;
        } else {
            RtlCopyMemory(copy.get(), selected, selected->Length);
            interface_ = copy.release();
            abortMarks_ = abortMarks.release();
        }
    }
    // The USB stack's library allocated it, untagged.
    ExFreePool(select);
    return status;
}

NTSTATUS UsbTransport::Unconfigure() {
    FreeConfiguration();
    const USHORT size = sizeof(struct _URB_SELECT_CONFIGURATION);
    auto urb = OtherPool<URB>::Zeroed(size);
    if (!urb) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UsbBuildSelectConfigurationRequest(urb.get(), size, nullptr);
    return SubmitUrb(urb.get());
}

} // namespace zyn
