// The bus's answers to the internal device controls a driver sends: URBs for descriptors,
// configuration, bulk transfers and pipe resets and aborts, and the port requests.
#include <algorithm>
#include <cstring>

#include "sim/usb/bus_impl.h"
#include "sim/wdk/verifier.h"

namespace sim::usb {

NTSTATUS Bus::Impl::Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    return (*static_cast<Impl**>(device->DeviceExtension))->Handle(irp);
}

NTSTATUS Bus::Impl::Finish(PIRP irp, PURB urb, NTSTATUS status, USBD_STATUS usbdStatus) {
    if (urb != nullptr) {
        urb->UrbHeader.Status = usbdStatus;
    }
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS Bus::Impl::Handle(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_USB_SUBMIT_URB:
        return SubmitUrb(irp, static_cast<PURB>(stack->Parameters.Others.Argument1));
    case IOCTL_INTERNAL_USB_GET_PORT_STATUS: {
        auto* status = static_cast<PULONG>(stack->Parameters.Others.Argument1);
        std::lock_guard<std::mutex> lock(Mutex());
        if (unplugged_) {
            return Finish(irp, nullptr, STATUS_DEVICE_NOT_CONNECTED, 0);
        }
        if (status == nullptr) {
            return Finish(irp, nullptr, STATUS_INVALID_PARAMETER, 0);
        }
        *status = USBD_PORT_CONNECTED | (portEnabled_ ? USBD_PORT_ENABLED : 0);
        return Finish(irp, nullptr, STATUS_SUCCESS, 0);
    }
    case IOCTL_INTERNAL_USB_RESET_PORT: {
        sim::CheckIrqlIs(PASSIVE_LEVEL, "IOCTL_INTERNAL_USB_RESET_PORT");
        std::lock_guard<std::mutex> lock(Mutex());
        if (unplugged_) {
            return Finish(irp, nullptr, STATUS_DEVICE_NOT_CONNECTED, 0);
        }
        portEnabled_ = true;
        for (auto& [address, endpoint] : endpoints_) {
            endpoint.halted = false;
        }
        ++counters_.portResets;
        // Transfers left queued behind the fault are served again (the lock is held: the
        // wake-up is marked directly).
        wakeup_->pending = true;
        wakeup_->condition.notify_all();
        return Finish(irp, nullptr, STATUS_SUCCESS, 0);
    }
    default:
        return Finish(irp, nullptr, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

NTSTATUS Bus::Impl::SubmitUrb(PIRP irp, PURB urb) {
    if (urb == nullptr) {
        return Finish(irp, nullptr, STATUS_INVALID_PARAMETER, 0);
    }
    {
        std::lock_guard<std::mutex> lock(Mutex());
        if (unplugged_) {
            return Finish(irp, urb, STATUS_DEVICE_NOT_CONNECTED, USBD_STATUS_DEVICE_GONE);
        }
    }
    switch (urb->UrbHeader.Function) {
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
        return GetDescriptor(irp, urb);
    case URB_FUNCTION_SELECT_CONFIGURATION:
        return SelectConfiguration(irp, urb);
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
        return BulkTransfer(irp, urb);
    case URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL:
    case URB_FUNCTION_SYNC_RESET_PIPE:
    case URB_FUNCTION_SYNC_CLEAR_STALL:
        return ResetPipe(irp, urb);
    case URB_FUNCTION_ABORT_PIPE:
        return AbortPipe(irp, urb);
    default:
        return Finish(irp, urb, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_URB_FUNCTION);
    }
}

uint8_t* Bus::Impl::TransferBuffer(PVOID buffer, PMDL mdl, ULONG length, const char* what) {
    if (mdl != nullptr) {
        if (MmGetMdlByteCount(mdl) < length) {
            sim::VerifierFail("%s of %u bytes into an MDL of %u bytes", what, length,
                              MmGetMdlByteCount(mdl));
            return nullptr;
        }
        return static_cast<uint8_t*>(MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority));
    }
    return static_cast<uint8_t*>(buffer);
}

NTSTATUS Bus::Impl::GetDescriptor(PIRP irp, PURB urb) {
    auto& request = urb->UrbControlDescriptorRequest;
    if (urb->UrbHeader.Length < sizeof request) {
        return Finish(irp, urb, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    {
        std::lock_guard<std::mutex> lock(Mutex());
        if (!portEnabled_) {
            return Finish(irp, urb, STATUS_UNSUCCESSFUL, USBD_STATUS_DEV_NOT_RESPONDING);
        }
    }
    std::vector<uint8_t> descriptor;
    if (request.DescriptorType == USB_DEVICE_DESCRIPTOR_TYPE) {
        descriptor = model_.DeviceDescriptor();
    } else if (request.DescriptorType == USB_CONFIGURATION_DESCRIPTOR_TYPE) {
        descriptor = model_.ConfigurationDescriptor(request.Index);
    }
    if (descriptor.empty()) {
        return Finish(irp, urb, STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID);
    }
    uint8_t* buffer = TransferBuffer(request.TransferBuffer, request.TransferBufferMDL,
                                     request.TransferBufferLength, "descriptor request");
    if (buffer == nullptr) {
        return Finish(irp, urb, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    const size_t bytes = std::min<size_t>(descriptor.size(), request.TransferBufferLength);
    std::memcpy(buffer, descriptor.data(), bytes);
    request.TransferBufferLength = static_cast<ULONG>(bytes);
    return Finish(irp, urb, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
}

NTSTATUS Bus::Impl::SelectConfiguration(PIRP irp, PURB urb) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "URB_FUNCTION_SELECT_CONFIGURATION");
    auto& select = urb->UrbSelectConfiguration;
    if (urb->UrbHeader.Length < sizeof select) {
        return Finish(irp, urb, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    std::vector<Completion> cancelled;
    NTSTATUS status = STATUS_SUCCESS;
    USBD_STATUS usbdStatus = USBD_STATUS_SUCCESS;
    {
        std::unique_lock<std::mutex> lock(Mutex());
        if (!portEnabled_) {
            return Finish(irp, urb, STATUS_UNSUCCESSFUL, USBD_STATUS_DEV_NOT_RESPONDING);
        }
        // Any configuration change ends the old pipes and their transfers.
        for (auto& [address, endpoint] : endpoints_) {
            TakeQueue(endpoint, STATUS_CANCELLED, USBD_STATUS_CANCELED, &cancelled, lock);
        }
        pipes_.clear();
        endpoints_.clear();
        ++generation_;
        if (select.ConfigurationDescriptor != nullptr) {
            status = Configure(urb, &usbdStatus);
            if (!NT_SUCCESS(status)) {
                pipes_.clear();
                endpoints_.clear();
            }
        }
    }
    CompleteAll(cancelled);
    return Finish(irp, urb, status, usbdStatus);
}

NTSTATUS Bus::Impl::Configure(PURB urb, USBD_STATUS* usbdStatus) {
    auto& select = urb->UrbSelectConfiguration;
    PUSB_CONFIGURATION_DESCRIPTOR config = select.ConfigurationDescriptor;
    auto* info = &select.Interface;
    auto* end = reinterpret_cast<PUCHAR>(urb) + urb->UrbHeader.Length;
    for (UCHAR i = 0; i < config->bNumInterfaces; ++i) {
        if (reinterpret_cast<PUCHAR>(info) + offsetof(USBD_INTERFACE_INFORMATION, Pipes) > end ||
            reinterpret_cast<PUCHAR>(info) + info->Length > end) {
            *usbdStatus = USBD_STATUS_BUFFER_TOO_SMALL;
            return STATUS_INVALID_PARAMETER;
        }
        PUSB_INTERFACE_DESCRIPTOR interface = USBD_ParseConfigurationDescriptorEx(
            config, config, info->InterfaceNumber, info->AlternateSetting, -1, -1, -1);
        if (interface == nullptr) {
            *usbdStatus = USBD_STATUS_INTERFACE_NOT_FOUND;
            return STATUS_INVALID_PARAMETER;
        }
        if (info->Length < GET_USBD_INTERFACE_SIZE(interface->bNumEndpoints)) {
            *usbdStatus = USBD_STATUS_BUFFER_TOO_SMALL;
            return STATUS_BUFFER_TOO_SMALL;
        }
        info->Class = interface->bInterfaceClass;
        info->SubClass = interface->bInterfaceSubClass;
        info->Protocol = interface->bInterfaceProtocol;
        info->InterfaceHandle = reinterpret_cast<USBD_INTERFACE_HANDLE>(
            0x1F000000 + (generation_ << 8) + interface->bInterfaceNumber);
        info->NumberOfPipes = interface->bNumEndpoints;
        auto* p = reinterpret_cast<PUCHAR>(interface) + interface->bLength;
        auto* configEnd = reinterpret_cast<PUCHAR>(config) + config->wTotalLength;
        ULONG found = 0;
        while (found < interface->bNumEndpoints && p + 2 <= configEnd && p[0] >= 2) {
            if (p[1] == USB_INTERFACE_DESCRIPTOR_TYPE) {
                break;
            }
            if (p[1] == USB_ENDPOINT_DESCRIPTOR_TYPE && p[0] >= sizeof(USB_ENDPOINT_DESCRIPTOR)) {
                auto* ep = reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(p);
                USBD_PIPE_INFORMATION& pipe = info->Pipes[found];
                pipe.MaximumPacketSize = ep->wMaxPacketSize;
                pipe.EndpointAddress = ep->bEndpointAddress;
                pipe.Interval = ep->bInterval;
                pipe.PipeType =
                    static_cast<USBD_PIPE_TYPE>(ep->bmAttributes & USB_ENDPOINT_TYPE_MASK);
                pipe.PipeHandle = reinterpret_cast<USBD_PIPE_HANDLE>(
                    0x2F000000 + (generation_ << 8) + ep->bEndpointAddress);
                pipe.MaximumTransferSize =
                    std::min(pipe.MaximumTransferSize, maximumTransferSizeCap_);
                pipes_[pipe.PipeHandle] =
                    Pipe{ep->bEndpointAddress, pipe.PipeType, pipe.MaximumTransferSize};
                endpoints_[ep->bEndpointAddress];
                ++found;
            }
            p += p[0];
        }
        if (found != interface->bNumEndpoints) {
            *usbdStatus = USBD_STATUS_INAVLID_CONFIGURATION_DESCRIPTOR;
            return STATUS_INVALID_PARAMETER;
        }
        info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(reinterpret_cast<PUCHAR>(info) +
                                                             info->Length);
    }
    select.ConfigurationHandle =
        reinterpret_cast<USBD_CONFIGURATION_HANDLE>(0x3F000000 + (generation_ << 8));
    return STATUS_SUCCESS;
}

NTSTATUS Bus::Impl::BulkTransfer(PIRP irp, PURB urb) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER");
    auto& transfer = urb->UrbBulkOrInterruptTransfer;
    if (urb->UrbHeader.Length < sizeof transfer) {
        return Finish(irp, urb, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    std::unique_lock<std::mutex> lock(Mutex());
    const Pipe* pipe = FindPipe(transfer.PipeHandle);
    if (pipe == nullptr) {
        lock.unlock();
        return Finish(irp, urb, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PIPE_HANDLE);
    }
    const bool in = USB_ENDPOINT_DIRECTION_IN(pipe->endpoint) != 0;
    const bool flaggedIn = (transfer.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0;
    if ((pipe->type != UsbdPipeTypeBulk && pipe->type != UsbdPipeTypeInterrupt) ||
        in != flaggedIn || transfer.TransferBufferLength > pipe->maximumTransferSize) {
        lock.unlock();
        return Finish(irp, urb, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    uint8_t* buffer = TransferBuffer(transfer.TransferBuffer, transfer.TransferBufferMDL,
                                     transfer.TransferBufferLength, "bulk transfer");
    if (buffer == nullptr && transfer.TransferBufferLength > 0) {
        lock.unlock();
        return Finish(irp, urb, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    if (!portEnabled_) {
        lock.unlock();
        return Finish(irp, urb, STATUS_UNSUCCESSFUL, USBD_STATUS_DEV_NOT_RESPONDING);
    }
    Endpoint& endpoint = endpoints_[pipe->endpoint];
    if (endpoint.halted) {
        lock.unlock();
        return Finish(irp, urb, STATUS_UNSUCCESSFUL, USBD_STATUS_ENDPOINT_HALTED);
    }
    if (!in) {
        const uint8_t address = pipe->endpoint;
        lock.unlock();
        if (!model_.Out(address, buffer, transfer.TransferBufferLength)) {
            std::lock_guard<std::mutex> relock(Mutex());
            endpoints_[address].halted = true;
            return Finish(irp, urb, STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID);
        }
        {
            std::lock_guard<std::mutex> relock(Mutex());
            ++counters_.outCompleted;
        }
        return Finish(irp, urb, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
    }
    return QueueIn(irp, urb, endpoint, buffer, transfer.TransferBufferLength, lock);
}

NTSTATUS Bus::Impl::ResetPipe(PIRP irp, PURB urb) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL");
    uint8_t address;
    {
        std::lock_guard<std::mutex> lock(Mutex());
        const Pipe* pipe = FindPipe(urb->UrbPipeRequest.PipeHandle);
        if (pipe == nullptr) {
            return Finish(irp, urb, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PIPE_HANDLE);
        }
        if (!portEnabled_) {
            return Finish(irp, urb, STATUS_UNSUCCESSFUL, USBD_STATUS_DEV_NOT_RESPONDING);
        }
        address = pipe->endpoint;
        endpoints_[address].halted = false;
        ++counters_.pipeResets;
    }
    model_.ResetEndpoint(address);
    Wake(); // transfers left queued behind the stall are served again
    return Finish(irp, urb, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
}

NTSTATUS Bus::Impl::AbortPipe(PIRP irp, PURB urb) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "URB_FUNCTION_ABORT_PIPE");
    std::vector<Completion> aborted;
    {
        std::unique_lock<std::mutex> lock(Mutex());
        const Pipe* pipe = FindPipe(urb->UrbPipeRequest.PipeHandle);
        if (pipe == nullptr) {
            lock.unlock();
            return Finish(irp, urb, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PIPE_HANDLE);
        }
        TakeQueue(endpoints_[pipe->endpoint], STATUS_CANCELLED, USBD_STATUS_CANCELED, &aborted,
                  lock);
        counters_.cancelled += aborted.size();
        ++counters_.aborts;
    }
    CompleteAll(aborted);
    return Finish(irp, urb, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
}

const Pipe* Bus::Impl::FindPipe(USBD_PIPE_HANDLE handle) const {
    auto it = pipes_.find(handle);
    return it == pipes_.end() ? nullptr : &it->second;
}

} // namespace sim::usb
