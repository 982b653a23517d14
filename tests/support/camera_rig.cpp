#include "tests/support/camera_rig.h"

#include <cstring>

namespace camera_rig {

namespace {
constexpr ULONG kBufferTag = sim::pool::Tag("Tbuf");
} // namespace

UsbAnalyzer::UsbAnalyzer(PDEVICE_OBJECT lower) : lower_(lower) {
    driver_ = sim::CreateDriverObject(L"usbanalyzer");
    driver_->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = &UsbAnalyzer::Dispatch;
    IoCreateDevice(driver_, sizeof(UsbAnalyzer*), nullptr, FILE_DEVICE_USB, 0, FALSE, &device_);
    *static_cast<UsbAnalyzer**>(device_->DeviceExtension) = this;
    device_->StackSize = static_cast<CCHAR>(lower->StackSize + 1);
}

UsbAnalyzer::~UsbAnalyzer() {
    IoDeleteDevice(device_);
    sim::DeleteDriverObject(driver_);
}

NTSTATUS UsbAnalyzer::Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    UsbAnalyzer* self = *static_cast<UsbAnalyzer**>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    Request request;
    request.ioctl = stack->Parameters.DeviceIoControl.IoControlCode;
    request.irql = KeGetCurrentIrql();
    if (request.ioctl == IOCTL_INTERNAL_USB_SUBMIT_URB) {
        auto urb = static_cast<PURB>(stack->Parameters.Others.Argument1);
        request.function = urb->UrbHeader.Function;
        if (request.function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER) {
            const auto& transfer = urb->UrbBulkOrInterruptTransfer;
            request.pipe = transfer.PipeHandle;
            request.flags = transfer.TransferFlags;
            request.length = transfer.TransferBufferLength;
            if ((transfer.TransferFlags & USBD_TRANSFER_DIRECTION_IN) == 0 &&
                transfer.TransferBuffer != nullptr && transfer.TransferBufferLength > 0) {
                request.command = *static_cast<const UCHAR*>(transfer.TransferBuffer);
            }
            if (transfer.TransferBufferMDL != nullptr) {
                request.mdl = transfer.TransferBufferMDL;
                request.mdlAddress = MmGetMdlVirtualAddress(transfer.TransferBufferMDL);
                request.mdlBytes = MmGetMdlByteCount(transfer.TransferBufferMDL);
                request.partialMdl = (transfer.TransferBufferMDL->MdlFlags & MDL_PARTIAL) != 0;
            }
        } else if (request.function == URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL ||
                   request.function == URB_FUNCTION_ABORT_PIPE) {
            request.pipe = urb->UrbPipeRequest.PipeHandle;
        }
    }
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->requests_.push_back(request);
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(self->lower_, irp);
}

std::vector<UsbAnalyzer::Request> UsbAnalyzer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<UsbAnalyzer::Request> UsbAnalyzer::Transfers() const {
    std::vector<Request> transfers;
    for (const Request& r : Requests()) {
        if (r.ioctl == IOCTL_INTERNAL_USB_SUBMIT_URB &&
            r.function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER) {
            transfers.push_back(r);
        }
    }
    return transfers;
}

void UsbAnalyzer::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

CameraRig::CameraRig(sim::camera::Model model)
    : camera(model, sim::camera::CameraOptions{std::chrono::nanoseconds{0}, false}), bus(camera),
      analyzer(bus.DeviceObject()) {}

PoolBuffer::PoolBuffer(size_t bytes)
    : data_(static_cast<uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, bytes, kBufferTag))),
      size_(bytes) {
    std::memset(data_, 0, bytes);
}

PoolBuffer::~PoolBuffer() {
    ExFreePoolWithTag(data_, kBufferTag);
}

} // namespace camera_rig
