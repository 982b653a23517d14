// The frame read: one request per 64 KiB chunk of the frame buffer, all outstanding at once, so
// the host controller streams the whole frame without gaps between requests. The chunks are
// partial MDLs of one MDL over the whole (non-paged) buffer, so nothing is copied on the way.
#include "driver/protocol/usb_transport.h"

#include "driver/kernel/interlocked.h"
#include "driver/kernel/lock_guards.h"
#include "driver/pool_tags.h"

namespace zyn {

NTSTATUS UsbTransport::SplitBulkRead(ULONG pipeIndex, ULONG length, PVOID buffer, ULONG timeoutMs) {
    PUSBD_PIPE_INFORMATION pipe = nullptr;
    NTSTATUS status = CheckPipe(pipeIndex, &pipe);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (length == 0 || buffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG count = BulkChunkCount(length);

    {
        SpinLockGuard guard(&submitLock_);
        if (ReadsHalted()) {
            return STATUS_CANCELLED;
        }
        status = PrepareRead(count, length, buffer);
    }
    if (!NT_SUCCESS(status)) {
        return status;
    }

    SendReadCommand(packets::FrameRequest());

    // Every request handed to the next driver is counted, also one whose IoCallDriver returned
    // an error: the lower driver completed it through the completion routine all the same, and
    // its IRP must not be freed before that has happened.
    ULONG submitted = 0;
    BOOLEAN submissionFailed = FALSE;
    {
        SpinLockGuard guard(&submitLock_);
        // Marked before the first request goes down, so that an AbortPipes that finds requests
        // on the pipe also finds the mark.
        MarkPipeForAbort(pipeIndex);
        // A stop that came while the frame request went out finds nothing to wait for: once
        // the halt is seen here, nothing is submitted; before it, HaltReads waits for this
        // lock and cancels what went down.
        if (ReadsHalted()) {
            status = STATUS_CANCELLED;
            count = 0;
        }
        ULONG offset = 0;
        for (ULONG index = 0; index < count; ++index, offset += kBulkChunkBytes) {
            const ULONG rest = length - offset;
            const ULONG chunk = rest < kBulkChunkBytes ? rest : kBulkChunkBytes;
            BOOLEAN passedDown = FALSE;
            const NTSTATUS chunkStatus =
                SubmitChunk(index, offset, chunk, buffer, *pipe, &passedDown);
            if (passedDown) {
                ++submitted;
            }
            if (!NT_SUCCESS(chunkStatus)) {
                status = STATUS_INSUFFICIENT_RESOURCES;
                submissionFailed = passedDown;
                break;
            }
        }
        InterlockedExchange(&inFlight_, static_cast<LONG>(submitted));
        if (ReadInterlocked(&completed_) >= static_cast<LONG>(submitted)) {
            KeSetEvent(&readCompleted_, IO_NO_INCREMENT, FALSE);
        }
    }

    if (submitted > 0) {
        SendReadCommand(packets::ReadsQueued());
    }
    if (submissionFailed && !NT_SUCCESS(ResetPipe(pipeIndex))) {
        RecoverPort();
    }

    LARGE_INTEGER wait;
    wait.QuadPart = -static_cast<LONGLONG>(timeoutMs) * 10000;
    if (KeWaitForSingleObject(&readCompleted_, Executive, KernelMode, FALSE, &wait) ==
        STATUS_TIMEOUT) {
        {
            SpinLockGuard guard(&submitLock_);
            CancelUndoneLocked();
        }
        // Cancelled requests complete through the routine like any other; only then may
        // their IRPs be freed.
        KeWaitForSingleObject(&readCompleted_, Executive, KernelMode, FALSE, nullptr);
        status = STATUS_TIMEOUT;
        InterlockedIncrement(&readTimeouts_);
    } else if (NT_SUCCESS(status)) {
        status = ChunkOutcome(submitted, length);
    }

    ReleaseRead();
    return status;
}

NTSTATUS UsbTransport::PrepareRead(ULONG count, ULONG length, PVOID buffer) {
    const SIZE_T arrayBytes = (static_cast<SIZE_T>(count) + 1) * sizeof(BulkChunkRecord);
    if (records_ == nullptr || recordCapacity_ != count) {
        if (records_ != nullptr) {
            ExFreePoolWithTag(records_, kTagOther);
            records_ = nullptr;
            recordCapacity_ = 0;
        }
        records_ = static_cast<BulkChunkRecord*>(
            ExAllocatePoolWithTag(NonPagedPool, arrayBytes, kTagOther));
        if (records_ == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        recordCapacity_ = count;
    }
    RtlZeroMemory(records_, arrayBytes);

    wholeBufferMdl_ = IoAllocateMdl(buffer, length, FALSE, FALSE, nullptr);
    if (wholeBufferMdl_ == nullptr) {
        if (!keepRecords_) {
            ExFreePoolWithTag(records_, kTagOther);
            records_ = nullptr;
            recordCapacity_ = 0;
        }
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    MmBuildMdlForNonPagedPool(wholeBufferMdl_);

    InterlockedExchange(&completed_, 0);
    InterlockedExchange(&inFlight_, static_cast<LONG>(count));
    KeClearEvent(&readCompleted_);
    return STATUS_SUCCESS;
}

NTSTATUS UsbTransport::TakeChunkKit(ULONG index, PVOID chunkStart, ULONG chunkLength,
                                    BulkChunkKit** kit) {
    if (index >= kitCapacity_) {
        // Grown to the frame's chunk count, keeping the requests already made.
        const ULONG capacity = index + 1 > recordCapacity_ ? index + 1 : recordCapacity_;
        auto* kits = static_cast<BulkChunkKit*>(ExAllocatePoolWithTag(
            NonPagedPool, static_cast<SIZE_T>(capacity) * sizeof(BulkChunkKit), kTagOther));
        if (kits == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        RtlZeroMemory(kits, static_cast<SIZE_T>(capacity) * sizeof(BulkChunkKit));
        if (kits_ != nullptr) {
            RtlCopyMemory(kits, kits_, static_cast<SIZE_T>(kitCapacity_) * sizeof(BulkChunkKit));
            ExFreePoolWithTag(kits_, kTagOther);
        }
        kits_ = kits;
        kitCapacity_ = capacity;
    }
    BulkChunkKit& chunk = kits_[index];
    if (chunk.urb == nullptr) {
        chunk.urb = static_cast<PURB>(ExAllocatePoolWithTag(
            NonPagedPool, sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), kTagOther));
        if (chunk.urb == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    if (chunk.irp == nullptr) {
        chunk.irp = IoAllocateIrp(static_cast<CCHAR>(next_->StackSize + 1), FALSE);
        if (chunk.irp == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
    } else {
        IoReuseIrp(chunk.irp, STATUS_SUCCESS);
    }
    // A partial MDL that was mapped, or that has no room for this chunk's pages, is made anew.
    if (chunk.mdl != nullptr) {
        const SIZE_T room =
            (static_cast<SIZE_T>(chunk.mdl->Size) - sizeof(MDL)) / sizeof(PFN_NUMBER);
        if ((chunk.mdl->MdlFlags & MDL_PARTIAL_HAS_BEEN_MAPPED) != 0 ||
            ADDRESS_AND_SIZE_TO_SPAN_PAGES(chunkStart, chunkLength) > room) {
            IoFreeMdl(chunk.mdl);
            chunk.mdl = nullptr;
        }
    }
    if (chunk.mdl == nullptr) {
        chunk.mdl = IoAllocateMdl(chunkStart, chunkLength, FALSE, FALSE, nullptr);
        if (chunk.mdl == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    *kit = &chunk;
    return STATUS_SUCCESS;
}

VOID UsbTransport::FreeChunkKits() {
    SpinLockGuard guard(&submitLock_);
    for (ULONG index = 0; index < kitCapacity_; ++index) {
        BulkChunkKit& chunk = kits_[index];
        if (chunk.irp != nullptr) {
            IoFreeIrp(chunk.irp);
        }
        if (chunk.mdl != nullptr) {
            IoFreeMdl(chunk.mdl);
        }
        if (chunk.urb != nullptr) {
            ExFreePoolWithTag(chunk.urb, kTagOther);
        }
    }
    if (kits_ != nullptr) {
        ExFreePoolWithTag(kits_, kTagOther);
        kits_ = nullptr;
    }
    kitCapacity_ = 0;
}

NTSTATUS UsbTransport::SubmitChunk(ULONG index, ULONG offset, ULONG chunkLength, PVOID buffer,
                                   const USBD_PIPE_INFORMATION& pipe, PBOOLEAN passedDown) {
    *passedDown = FALSE;
    PVOID chunkStart = static_cast<PUCHAR>(buffer) + offset;
    BulkChunkKit* kit = nullptr;
    const NTSTATUS kitStatus = TakeChunkKit(index, chunkStart, chunkLength, &kit);
    if (!NT_SUCCESS(kitStatus)) {
        return kitStatus;
    }
    IoBuildPartialMdl(wholeBufferMdl_, kit->mdl, chunkStart, chunkLength);
    ULONG flags = USBD_SHORT_TRANSFER_OK;
    if (USB_ENDPOINT_DIRECTION_IN(pipe.EndpointAddress)) {
        flags |= USBD_TRANSFER_DIRECTION_IN;
    }
    const USHORT size = sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER);
    RtlZeroMemory(kit->urb, size);
    UsbBuildInterruptOrBulkTransferRequest(kit->urb, size, pipe.PipeHandle, nullptr, kit->mdl,
                                           chunkLength, flags, nullptr);
    PIRP irp = kit->irp;

    BulkChunkRecord& record = records_[index];
    record.owner = this;
    record.urb = kit->urb;
    record.irp = irp;
    record.mdl = kit->mdl;
    record.done = 0;

    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = record.urb;
    IoSetCompletionRoutine(irp, &UsbTransport::ChunkCompleted, &record, TRUE, TRUE, TRUE);
    *passedDown = TRUE;
    const NTSTATUS status = IoCallDriver(next_, irp);
    return NT_SUCCESS(status) ? STATUS_SUCCESS : status;
}

NTSTATUS NTAPI UsbTransport::ChunkCompleted(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    auto record = static_cast<BulkChunkRecord*>(context);
    UsbTransport* owner = record->owner;
    if (owner != nullptr && record->irp == irp) {
        // The record is marked before the request is counted: once the count is complete the
        // reading thread frees the records, and no routine may still be about to touch one.
        InterlockedIncrement(&record->done);
        const LONG completed = InterlockedIncrement(&owner->completed_);
        if (completed == ReadInterlocked(&owner->inFlight_)) {
            KeSetEvent(&owner->readCompleted_, IO_NO_INCREMENT, FALSE);
        }
    }
    // The reading thread frees the IRP.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

ULONG UsbTransport::CancelUndoneLocked() {
    if (records_ == nullptr) {
        return 0;
    }
    ULONG cancelled = 0;
    for (BulkChunkRecord* record = records_; record->owner != nullptr; ++record) {
        if (ReadInterlocked(&record->done) == 0) {
            IoCancelIrp(record->irp);
            ++cancelled;
        }
    }
    return cancelled;
}

VOID UsbTransport::CancelReads() {
    ULONG cancelled;
    {
        SpinLockGuard guard(&submitLock_);
        cancelled = CancelUndoneLocked();
    }
    if (cancelled > 0) {
        KeWaitForSingleObject(&readCompleted_, Executive, KernelMode, FALSE, nullptr);
    }
}

VOID UsbTransport::HaltReads() {
    ULONG cancelled;
    {
        SpinLockGuard guard(&submitLock_);
        InterlockedExchange(&readsHalted_, 1);
        cancelled = CancelUndoneLocked();
    }
    if (cancelled > 0) {
        KeWaitForSingleObject(&readCompleted_, Executive, KernelMode, FALSE, nullptr);
    }
}

VOID UsbTransport::ResumeReads() {
    SpinLockGuard guard(&submitLock_);
    InterlockedExchange(&readsHalted_, 0);
}

NTSTATUS UsbTransport::ChunkOutcome(ULONG submitted, ULONG length) const {
    // A chunk that failed, or a frame that came in short, is not a frame.
    ULONGLONG received = 0;
    for (ULONG index = 0; index < submitted; ++index) {
        const BulkChunkRecord& record = records_[index];
        if (!NT_SUCCESS(record.irp->IoStatus.Status)) {
            return record.irp->IoStatus.Status;
        }
        if (USBD_ERROR(record.urb->UrbHeader.Status)) {
            return STATUS_UNSUCCESSFUL;
        }
        received += record.urb->UrbBulkOrInterruptTransfer.TransferBufferLength;
    }
    return received == length ? STATUS_SUCCESS : STATUS_DEVICE_DATA_ERROR;
}

VOID UsbTransport::ReleaseRead() {
    // The chunks' requests stay for the next frame: every one has completed by now.
    SpinLockGuard guard(&submitLock_);
    if (keepRecords_) {
        RtlZeroMemory(records_,
                      (static_cast<SIZE_T>(recordCapacity_) + 1) * sizeof(BulkChunkRecord));
    } else {
        ExFreePoolWithTag(records_, kTagOther);
        records_ = nullptr;
        recordCapacity_ = 0;
    }
    IoFreeMdl(wholeBufferMdl_);
    wholeBufferMdl_ = nullptr;
}

VOID UsbTransport::SendReadCommand(const CommandPacket& packet) {
    // The frame read goes on whatever these commands do: a lost one shows as a timeout.
    // Marked so that a stop also aborts a command the camera does not take.
    MarkPipeForAbort(kCommandPipe);
    readPacket_ = packet;
    ULONG transferred = 0;
    (VOID) PipeTransfer(kCommandPipe, kCommandPacketSize, &readPacket_, &transferred);
}

} // namespace zyn
