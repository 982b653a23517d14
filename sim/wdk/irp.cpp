#include "sim/wdk/irp.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "sim/wdk/mdl.h"
#include "sim/wdk/pool.h"
#include "sim/wdk/threads.h"
#include "sim/wdk/verifier.h"

namespace {

// What the platform knows about an IRP beyond its fields.
struct IrpRecord {
    bool threaded = false; // built by IoBuildDeviceIoControlRequest: the I/O manager completes it
    bool freed = false;
    // Stack locations (1-based, as CurrentLocation counts) of the drivers it was sent to and that
    // have not completed it back yet.
    std::vector<int> held;
    uint64_t pendingMarks = 0; // bit per location where IoMarkIrpPending was called
    PVOID outputBuffer = nullptr; // buffered output to copy back at completion
    ULONG outputLength = 0;
    const char* file = "";
    int line = 0;
};

using RecordPtr = std::shared_ptr<IrpRecord>;

struct Registry {
    std::mutex mutex;
    std::unordered_map<PIRP, RecordPtr> records;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

KSPIN_LOCK g_cancelSpinLock = 0;

RecordPtr Find(PIRP irp, const char* call) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.records.find(irp);
    if (it == registry.records.end()) {
        sim::VerifierFail("%s of %p, which is no live IRP (freed already, or never allocated)",
                          call, static_cast<void*>(irp));
        return nullptr;
    }
    return it->second;
}

std::mutex& RecordLock() { return TheRegistry().mutex; }

// An IRP as allocated: zeroed, its stack locations below it, none of them current yet.
void Initialize(PIRP irp, USHORT size, CCHAR stackSize, PKTHREAD thread) {
    std::memset(irp, 0, size);
    irp->Type = IO_TYPE_IRP;
    irp->Size = size;
    irp->StackCount = stackSize;
    irp->CurrentLocation = static_cast<CHAR>(stackSize + 1);
    irp->Tail.Overlay.CurrentStackLocation =
        reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stackSize;
    irp->Tail.Overlay.Thread = thread;
}

PIRP Allocate(CCHAR stackSize, const char* file, int line, const RecordPtr& record) {
    if (stackSize < 1) {
        sim::VerifierFail("IoAllocateIrp with a stack size of %d", stackSize);
        return nullptr;
    }
    const USHORT size = IoSizeOfIrp(stackSize);
    auto* irp = static_cast<PIRP>(
        ExAllocatePoolWithTag(NonPagedPool, size, sim::pool::kIrpTag, file, line));
    if (irp == nullptr) {
        return nullptr;
    }
    Initialize(irp, size, stackSize, KeGetCurrentThread());
    record->file = file;
    record->line = line;
    std::lock_guard<std::mutex> lock(RecordLock());
    TheRegistry().records[irp] = record;
    return irp;
}

void Release(PIRP irp) {
    {
        std::lock_guard<std::mutex> lock(RecordLock());
        auto it = TheRegistry().records.find(irp);
        if (it != TheRegistry().records.end()) {
            it->second->freed = true;
            TheRegistry().records.erase(it);
        }
    }
    ExFreePoolWithTag(irp, sim::pool::kIrpTag);
}

void DropHeldUpTo(IrpRecord& record, int location) {
    record.held.erase(std::remove_if(record.held.begin(), record.held.end(),
                                     [location](int held) { return held <= location; }),
                      record.held.end());
}

// The I/O manager's part once every driver has completed the request.
void FinishThreadedIrp(PIRP irp, IrpRecord& record) {
    if (record.outputBuffer != nullptr && !NT_ERROR(irp->IoStatus.Status)) {
        const size_t bytes = std::min<size_t>(irp->IoStatus.Information, record.outputLength);
        std::memcpy(record.outputBuffer, irp->AssociatedIrp.SystemBuffer, bytes);
    }
    if (irp->Flags & IRP_DEALLOCATE_BUFFER) {
        ExFreePoolWithTag(irp->AssociatedIrp.SystemBuffer, sim::pool::kIrpTag);
    }
    while (irp->MdlAddress != nullptr) {
        PMDL next = irp->MdlAddress->Next;
        IoFreeMdl(irp->MdlAddress);
        irp->MdlAddress = next;
    }
    if (irp->UserIosb != nullptr) {
        *irp->UserIosb = irp->IoStatus;
    }
    PKEVENT event = irp->UserEvent;
    Release(irp);
    if (event != nullptr) {
        KeSetEvent(event, IO_NO_INCREMENT, FALSE);
    }
}

} // namespace

VOID IoSetNextIrpStackLocation(PIRP irp) {
    if (irp->CurrentLocation <= 1) {
        sim::VerifierFail("IoSetNextIrpStackLocation: IRP %p has no stack location left",
                          static_cast<void*>(irp));
        return;
    }
    irp->CurrentLocation--;
    irp->Tail.Overlay.CurrentStackLocation--;
}

NTSTATUS IoSetCompletionRoutineEx(PDEVICE_OBJECT, PIRP irp, PIO_COMPLETION_ROUTINE routine,
                                  PVOID context, BOOLEAN invokeOnSuccess, BOOLEAN invokeOnError,
                                  BOOLEAN invokeOnCancel) {
    IoSetCompletionRoutine(irp, routine, context, invokeOnSuccess, invokeOnError, invokeOnCancel);
    return STATUS_SUCCESS;
}

VOID IoMarkIrpPending(PIRP irp) {
    IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED;
    RecordPtr record = Find(irp, "IoMarkIrpPending");
    if (record != nullptr && irp->CurrentLocation >= 1 && irp->CurrentLocation < 64) {
        std::lock_guard<std::mutex> lock(RecordLock());
        record->pendingMarks |= uint64_t{1} << irp->CurrentLocation;
    }
}

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN, const char* file, int line) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "IoAllocateIrp");
    return Allocate(stackSize, file, line, std::make_shared<IrpRecord>());
}

VOID IoFreeIrp(PIRP irp) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "IoFreeIrp");
    RecordPtr record = Find(irp, "IoFreeIrp");
    if (record == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(RecordLock());
        if (!record->held.empty()) {
            sim::VerifierFail("IoFreeIrp of IRP %p (allocated at %s:%d) while a lower driver "
                              "still holds it: it was sent with IoCallDriver and not completed",
                              static_cast<void*>(irp), sim::BaseName(record->file), record->line);
            return;
        }
        if (record->threaded) {
            sim::VerifierFail("IoFreeIrp of IRP %p built by IoBuildDeviceIoControlRequest at "
                              "%s:%d; the I/O manager frees such IRPs when they complete",
                              static_cast<void*>(irp), sim::BaseName(record->file), record->line);
            return;
        }
    }
    if (irp->CancelRoutine != nullptr) {
        sim::VerifierFail("IoFreeIrp of IRP %p with a cancel routine still set",
                          static_cast<void*>(irp));
    }
    Release(irp);
}

VOID IoReuseIrp(PIRP irp, NTSTATUS status) {
    RecordPtr record = Find(irp, "IoReuseIrp");
    if (record == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(RecordLock());
        if (!record->held.empty()) {
            sim::VerifierFail("IoReuseIrp of IRP %p while a lower driver still holds it",
                              static_cast<void*>(irp));
            return;
        }
        record->pendingMarks = 0;
    }
    const CCHAR stackSize = irp->StackCount;
    const USHORT size = irp->Size;
    PKTHREAD thread = irp->Tail.Overlay.Thread;
    Initialize(irp, size, stackSize, thread);
    irp->IoStatus.Status = status;
}

PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject,
                                   PVOID inputBuffer, ULONG inputBufferLength,
                                   PVOID outputBuffer, ULONG outputBufferLength,
                                   BOOLEAN internalDeviceIoControl, PKEVENT event,
                                   PIO_STATUS_BLOCK ioStatusBlock, const char* file, int line) {
    if (!sim::CheckIrqlIs(PASSIVE_LEVEL, "IoBuildDeviceIoControlRequest")) {
        return nullptr;
    }
    auto record = std::make_shared<IrpRecord>();
    record->threaded = true;
    PIRP irp = Allocate(deviceObject->StackSize, file, line, record);
    if (irp == nullptr) {
        return nullptr;
    }
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction =
        internalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = ioControlCode;
    next->Parameters.DeviceIoControl.InputBufferLength = inputBufferLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outputBufferLength;
    switch (METHOD_FROM_CTL_CODE(ioControlCode)) {
    case METHOD_BUFFERED: {
        const ULONG length = std::max(inputBufferLength, outputBufferLength);
        if (length > 0) {
            PVOID buffer =
                ExAllocatePoolWithTag(NonPagedPool, length, sim::pool::kIrpTag, file, line);
            if (buffer == nullptr) {
                Release(irp);
                return nullptr;
            }
            if (inputBuffer != nullptr && inputBufferLength > 0) {
                std::memcpy(buffer, inputBuffer, inputBufferLength);
            }
            irp->AssociatedIrp.SystemBuffer = buffer;
            irp->Flags |= IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
            if (outputBuffer != nullptr && outputBufferLength > 0) {
                irp->Flags |= IRP_INPUT_OPERATION;
                record->outputBuffer = outputBuffer;
                record->outputLength = outputBufferLength;
            }
        }
        break;
    }
    case METHOD_NEITHER:
        next->Parameters.DeviceIoControl.Type3InputBuffer = inputBuffer;
        irp->UserBuffer = outputBuffer;
        break;
    default:
        sim::VerifierFail("IoBuildDeviceIoControlRequest: direct I/O control codes (0x%08X) are "
                          "not part of the simulated platform",
                          static_cast<unsigned>(ioControlCode));
        Release(irp);
        return nullptr;
    }
    irp->RequestorMode = KernelMode;
    irp->UserIosb = ioStatusBlock;
    irp->UserEvent = event;
    return irp;
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "IoCallDriver");
    RecordPtr record = Find(irp, "IoCallDriver");
    if (record == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (irp->CurrentLocation <= 1) {
        sim::VerifierFail("IoCallDriver: IRP %p (allocated at %s:%d with %d stack locations) has "
                          "no stack location left for device %p",
                          static_cast<void*>(irp), sim::BaseName(record->file), record->line,
                          irp->StackCount, static_cast<void*>(deviceObject));
        return STATUS_INVALID_PARAMETER;
    }
    irp->CurrentLocation--;
    irp->Tail.Overlay.CurrentStackLocation--;
    const int location = irp->CurrentLocation;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    stack->DeviceObject = deviceObject;
    {
        std::lock_guard<std::mutex> lock(RecordLock());
        record->held.push_back(location);
        if (location < 64) {
            record->pendingMarks &= ~(uint64_t{1} << location);
        }
    }
    PDRIVER_DISPATCH dispatch = deviceObject->DriverObject->MajorFunction[stack->MajorFunction];
    NTSTATUS status;
    if (dispatch == nullptr) {
        irp->IoStatus.Status = status = STATUS_INVALID_DEVICE_REQUEST;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    } else {
        status = dispatch(deviceObject, irp);
    }
    // The record outlives the IRP, so the check holds even when the request was completed and
    // freed before the dispatch routine returned.
    bool marked;
    {
        std::lock_guard<std::mutex> lock(RecordLock());
        marked = location < 64 && (record->pendingMarks & (uint64_t{1} << location)) != 0;
    }
    if (status == STATUS_PENDING && !marked) {
        sim::VerifierFail("dispatch routine of device %p returned STATUS_PENDING without "
                          "IoMarkIrpPending",
                          static_cast<void*>(deviceObject));
    } else if (status != STATUS_PENDING && marked) {
        sim::VerifierFail("dispatch routine of device %p called IoMarkIrpPending but returned "
                          "%s instead of STATUS_PENDING",
                          static_cast<void*>(deviceObject), sim::StatusName(status));
    }
    return status;
}

VOID IoCompleteRequest(PIRP irp, CCHAR) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "IoCompleteRequest");
    RecordPtr record = Find(irp, "IoCompleteRequest");
    if (record == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(RecordLock());
        if (record->held.empty() || irp->CurrentLocation > irp->StackCount) {
            sim::VerifierFail("IoCompleteRequest of IRP %p that no driver holds (completed "
                              "twice?)",
                              static_cast<void*>(irp));
            return;
        }
    }
    if (irp->IoStatus.Status == STATUS_PENDING) {
        sim::VerifierFail("IoCompleteRequest of IRP %p with status STATUS_PENDING",
                          static_cast<void*>(irp));
    }
    // Read as IoCancelIrp writes it: a cancel may come from another thread at any moment.
    if (__atomic_load_n(&irp->CancelRoutine, __ATOMIC_ACQUIRE) != nullptr) {
        sim::VerifierFail("IoCompleteRequest of IRP %p with its cancel routine still set",
                          static_cast<void*>(irp));
    }

    // Walk up the stack from the completing driver's location, as the platform does.
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
    for (; irp->CurrentLocation <= irp->StackCount + 1;
         ++stack, irp->CurrentLocation++, irp->Tail.Overlay.CurrentStackLocation++) {
        const int passed = irp->CurrentLocation - 1;
        {
            std::lock_guard<std::mutex> lock(RecordLock());
            DropHeldUpTo(*record, passed);
        }
        irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
        const NTSTATUS status = irp->IoStatus.Status;
        const bool invoke = (NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_SUCCESS)) ||
                            (!NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_ERROR)) ||
                            (__atomic_load_n(&irp->Cancel, __ATOMIC_ACQUIRE) &&
                             (stack->Control & SL_INVOKE_ON_CANCEL));
        if (invoke && stack->CompletionRoutine != nullptr) {
            PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
            PVOID context = stack->Context;
            PDEVICE_OBJECT device = irp->CurrentLocation == irp->StackCount + 1
                                        ? nullptr
                                        : IoGetCurrentIrpStackLocation(irp)->DeviceObject;
            std::memset(stack, 0, sizeof *stack);
            const NTSTATUS result = routine(device, irp, context);
            if (result == STATUS_MORE_PROCESSING_REQUIRED) {
                return; // the routine's driver owns the IRP again; it may be gone already
            }
            bool freed;
            {
                std::lock_guard<std::mutex> lock(RecordLock());
                freed = record->freed;
            }
            if (freed) {
                sim::VerifierFail("completion routine %p freed IRP %p but returned %s instead of "
                                  "STATUS_MORE_PROCESSING_REQUIRED",
                                  reinterpret_cast<void*>(routine), static_cast<void*>(irp),
                                  sim::StatusName(result));
                return;
            }
        } else {
            if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
                IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED;
            }
            std::memset(stack, 0, sizeof *stack);
        }
    }

    if (record->threaded) {
        FinishThreadedIrp(irp, *record);
        return;
    }
    sim::VerifierFail("IRP %p allocated with IoAllocateIrp at %s:%d was completed past its "
                      "originator: its completion routine must return "
                      "STATUS_MORE_PROCESSING_REQUIRED",
                      static_cast<void*>(irp), sim::BaseName(record->file), record->line);
    // Leave it with its originator so that it can still be freed.
    irp->CurrentLocation = static_cast<CHAR>(irp->StackCount + 1);
    irp->Tail.Overlay.CurrentStackLocation =
        reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + irp->StackCount;
}

BOOLEAN IoCancelIrp(PIRP irp) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "IoCancelIrp");
    if (Find(irp, "IoCancelIrp") == nullptr) {
        return FALSE;
    }
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    __atomic_store_n(&irp->Cancel, TRUE, __ATOMIC_RELEASE);
    PDRIVER_CANCEL routine = IoSetCancelRoutine(irp, nullptr);
    if (routine == nullptr) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    irp->CancelIrql = irql;
    // The routine releases the cancel spin lock.
    routine(IoGetCurrentIrpStackLocation(irp)->DeviceObject, irp);
    return TRUE;
}

VOID IoAcquireCancelSpinLock(PKIRQL irql) { KeAcquireSpinLock(&g_cancelSpinLock, irql); }

VOID IoReleaseCancelSpinLock(KIRQL irql) { KeReleaseSpinLock(&g_cancelSpinLock, irql); }
