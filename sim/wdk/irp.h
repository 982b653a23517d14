// I/O request packets, their stack locations and the calls that send, complete and cancel them,
// with the platform's layouts and completion order. The verifier checks: an IRP freed while a
// lower driver still holds it, completed twice, completed with STATUS_PENDING or with a cancel
// routine still set, sent past its last stack location, an allocated IRP completed past its
// originator (whose completion routine must return STATUS_MORE_PROCESSING_REQUIRED), a dispatch
// routine returning STATUS_PENDING without IoMarkIrpPending (or the reverse), and calls above
// their IRQL.
#pragma once

#include "sim/wdk/device_object.h"
#include "sim/wdk/events.h"
#include "sim/wdk/spin_lock.h"

struct _MDL;
struct _CM_RESOURCE_LIST;
struct _DEVICE_CAPABILITIES;

typedef struct _IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;
static_assert(sizeof(IO_STATUS_BLOCK) == 16, "IO_STATUS_BLOCK layout");

typedef NTSTATUS IO_COMPLETION_ROUTINE(PDEVICE_OBJECT DeviceObject, struct _IRP* Irp,
                                       PVOID Context);
typedef IO_COMPLETION_ROUTINE* PIO_COMPLETION_ROUTINE;
typedef VOID DRIVER_CANCEL(PDEVICE_OBJECT DeviceObject, struct _IRP* Irp);
typedef DRIVER_CANCEL* PDRIVER_CANCEL;
typedef VOID (*PIO_APC_ROUTINE)(PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock, ULONG Reserved);

typedef struct _IO_STACK_LOCATION {
    UCHAR MajorFunction;
    UCHAR MinorFunction;
    UCHAR Flags;
    UCHAR Control;
    union {
        struct {
            PVOID SecurityContext;
            ULONG Options;
            USHORT POINTER_ALIGNMENT FileAttributes;
            USHORT ShareAccess;
            ULONG POINTER_ALIGNMENT EaLength;
        } Create;
        struct {
            ULONG Length;
            ULONG POINTER_ALIGNMENT Key;
            LARGE_INTEGER ByteOffset;
        } Read;
        struct {
            ULONG Length;
            ULONG POINTER_ALIGNMENT Key;
            LARGE_INTEGER ByteOffset;
        } Write;
        struct {
            ULONG OutputBufferLength;
            ULONG POINTER_ALIGNMENT InputBufferLength;
            ULONG POINTER_ALIGNMENT IoControlCode;
            PVOID Type3InputBuffer;
        } DeviceIoControl;
        struct {
            struct _DEVICE_CAPABILITIES* Capabilities;
        } DeviceCapabilities;
        struct {
            struct _CM_RESOURCE_LIST* AllocatedResources;
            struct _CM_RESOURCE_LIST* AllocatedResourcesTranslated;
        } StartDevice;
        struct {
            PVOID Argument1;
            PVOID Argument2;
            PVOID Argument3;
            PVOID Argument4;
        } Others;
    } Parameters;
    PDEVICE_OBJECT DeviceObject;
    PFILE_OBJECT FileObject;
    PIO_COMPLETION_ROUTINE CompletionRoutine;
    PVOID Context;
} IO_STACK_LOCATION, *PIO_STACK_LOCATION;
static_assert(sizeof(IO_STACK_LOCATION) == 72, "IO_STACK_LOCATION layout");
static_assert(offsetof(IO_STACK_LOCATION, Parameters.DeviceIoControl.IoControlCode) ==
                  offsetof(IO_STACK_LOCATION, Parameters.Others.Argument3),
              "IoControlCode shares its place with Argument3, as on the platform");

// IO_STACK_LOCATION.Control
#define SL_PENDING_RETURNED 0x01
#define SL_ERROR_RETURNED 0x02
#define SL_INVOKE_ON_CANCEL 0x20
#define SL_INVOKE_ON_SUCCESS 0x40
#define SL_INVOKE_ON_ERROR 0x80

typedef struct _IRP {
    CSHORT Type;
    USHORT Size;
    struct _MDL* MdlAddress;
    ULONG Flags;
    union {
        struct _IRP* MasterIrp;
        LONG IrpCount;
        PVOID SystemBuffer;
    } AssociatedIrp;
    LIST_ENTRY ThreadListEntry;
    IO_STATUS_BLOCK IoStatus;
    KPROCESSOR_MODE RequestorMode;
    BOOLEAN PendingReturned;
    CHAR StackCount;
    CHAR CurrentLocation;
    BOOLEAN Cancel;
    KIRQL CancelIrql;
    CCHAR ApcEnvironment;
    UCHAR AllocationFlags;
    PIO_STATUS_BLOCK UserIosb;
    PKEVENT UserEvent;
    union {
        struct {
            PIO_APC_ROUTINE UserApcRoutine;
            PVOID UserApcContext;
        } AsynchronousParameters;
        LARGE_INTEGER AllocationSize;
    } Overlay;
    PDRIVER_CANCEL volatile CancelRoutine;
    PVOID UserBuffer;
    union {
        struct {
            union {
                struct {
                    LIST_ENTRY DeviceListEntry;
                    ULONG_PTR SortKey;
                } DeviceQueueEntry;
                PVOID DriverContext[4];
            };
            struct _KTHREAD* Thread;
            PCHAR AuxiliaryBuffer;
            struct {
                LIST_ENTRY ListEntry;
                union {
                    struct _IO_STACK_LOCATION* CurrentStackLocation;
                    ULONG PacketType;
                };
            };
            PFILE_OBJECT OriginalFileObject;
        } Overlay;
        ULONG_PTR Apc[11];
        PVOID CompletionKey;
    } Tail;
} IRP, *PIRP;
static_assert(sizeof(IRP) == 208, "IRP layout");

#define IRP_NOCACHE 0x00000001
#define IRP_PAGING_IO 0x00000002
#define IRP_MOUNT_COMPLETION 0x00000002
#define IRP_SYNCHRONOUS_API 0x00000004
#define IRP_ASSOCIATED_IRP 0x00000008
#define IRP_BUFFERED_IO 0x00000010
#define IRP_DEALLOCATE_BUFFER 0x00000020
#define IRP_INPUT_OPERATION 0x00000040

#define CTL_CODE(DeviceType, Function, Method, Access)                                             \
    (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))
#define METHOD_FROM_CTL_CODE(ctrlCode) ((ULONG)((ctrlCode)&3))
#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3
#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) {
    return irp->Tail.Overlay.CurrentStackLocation;
}
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp) {
    return irp->Tail.Overlay.CurrentStackLocation - 1;
}
// Gives the caller a stack location of its own in an IRP it allocated.
VOID IoSetNextIrpStackLocation(PIRP irp);
inline VOID IoSkipCurrentIrpStackLocation(PIRP irp) {
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
}
inline VOID IoCopyCurrentIrpStackLocationToNext(PIRP irp) {
    PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(irp);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    std::memcpy(next, current, offsetof(IO_STACK_LOCATION, CompletionRoutine));
    next->Control = 0;
}
inline VOID IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context,
                                   BOOLEAN invokeOnSuccess, BOOLEAN invokeOnError,
                                   BOOLEAN invokeOnCancel) {
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = 0;
    if (invokeOnSuccess)
        next->Control |= SL_INVOKE_ON_SUCCESS;
    if (invokeOnError)
        next->Control |= SL_INVOKE_ON_ERROR;
    if (invokeOnCancel)
        next->Control |= SL_INVOKE_ON_CANCEL;
}
NTSTATUS IoSetCompletionRoutineEx(PDEVICE_OBJECT deviceObject, PIRP irp,
                                  PIO_COMPLETION_ROUTINE routine, PVOID context,
                                  BOOLEAN invokeOnSuccess, BOOLEAN invokeOnError,
                                  BOOLEAN invokeOnCancel);
// Marks the current stack location pending; a dispatch routine that calls it must return
// STATUS_PENDING.
VOID IoMarkIrpPending(PIRP irp);
inline PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL routine) {
    return __atomic_exchange_n(&irp->CancelRoutine, routine, __ATOMIC_SEQ_CST);
}
inline USHORT IoSizeOfIrp(CCHAR stackSize) {
    return static_cast<USHORT>(sizeof(IRP) + stackSize * sizeof(IO_STACK_LOCATION));
}

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota, const char* file = __builtin_FILE(),
                   int line = __builtin_LINE());
VOID IoFreeIrp(PIRP irp);
// Makes a completed IRP that this driver allocated ready to be sent again.
VOID IoReuseIrp(PIRP irp, NTSTATUS status);
// A request for `deviceObject` that the I/O manager completes: it sets the I/O status block and
// the event, copies buffered output back and frees the IRP. Needs PASSIVE_LEVEL.
PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject,
                                   PVOID inputBuffer, ULONG inputBufferLength, PVOID outputBuffer,
                                   ULONG outputBufferLength, BOOLEAN internalDeviceIoControl,
                                   PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock,
                                   const char* file = __builtin_FILE(),
                                   int line = __builtin_LINE());
NTSTATUS IoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp);
VOID IoCompleteRequest(PIRP irp, CCHAR priorityBoost);
BOOLEAN IoCancelIrp(PIRP irp);
VOID IoAcquireCancelSpinLock(PKIRQL irql);
VOID IoReleaseCancelSpinLock(KIRQL irql);

namespace sim::pool {
// The tag of IRP allocations (and their system buffers); a test can make IoAllocateIrp and
// IoBuildDeviceIoControlRequest fail by failing this tag.
constexpr ULONG kIrpTag = 0x20707249; // "Irp "
} // namespace sim::pool
