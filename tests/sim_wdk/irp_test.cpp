#include <gtest/gtest.h>

#include "sim/wdk/sim_wdk.h"
#include "tests/support/verified_test.h"

namespace {

using sim::testing::VerifierCapture;

// A lower driver that completes at once, or queues the request with a cancel routine, or (a
// faulty one) returns STATUS_PENDING without marking the request.
enum class Mode { Complete, Queue, PendWithoutMark };
Mode g_mode = Mode::Complete;
PIRP g_queued = nullptr;
KSPIN_LOCK g_queueLock;

VOID CancelQueued(PDEVICE_OBJECT, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KIRQL old;
    KeAcquireSpinLock(&g_queueLock, &old);
    g_queued = nullptr;
    KeReleaseSpinLock(&g_queueLock, old);
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS LowerDispatch(PDEVICE_OBJECT, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (g_mode) {
    case Mode::Complete:
        irp->IoStatus.Status = STATUS_SUCCESS;
        irp->IoStatus.Information = 7;
        if (irp->AssociatedIrp.SystemBuffer != nullptr) {
            std::memset(irp->AssociatedIrp.SystemBuffer, 0x5A, 7);
        }
        EXPECT_EQ(stack->Parameters.Others.Argument1, reinterpret_cast<PVOID>(0x1234));
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    case Mode::Queue:
        IoMarkIrpPending(irp);
        IoSetCancelRoutine(irp, &CancelQueued);
        g_queued = irp;
        return STATUS_PENDING;
    case Mode::PendWithoutMark:
        g_queued = irp;
        return STATUS_PENDING;
    }
    return STATUS_UNSUCCESSFUL;
}

// Completes the queued request as the lower driver would once its work is done.
void CompleteQueued(NTSTATUS status) {
    PIRP irp = g_queued;
    g_queued = nullptr;
    ASSERT_NE(irp, nullptr);
    IoSetCancelRoutine(irp, nullptr);
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    KeLowerIrql(old);
}

class IrpTest : public sim::testing::VerifiedTest {
protected:
    void SetUp() override {
        VerifiedTest::SetUp();
        driver_ = sim::CreateDriverObject(L"lower");
        driver_->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = &LowerDispatch;
        driver_->MajorFunction[IRP_MJ_DEVICE_CONTROL] = &LowerDispatch;
        ASSERT_EQ(IoCreateDevice(driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &lower_),
                  STATUS_SUCCESS);
        KeInitializeSpinLock(&g_queueLock);
        g_mode = Mode::Complete;
        g_queued = nullptr;
    }
    void TearDown() override {
        IoDeleteDevice(lower_);
        sim::DeleteDriverObject(driver_);
        VerifiedTest::TearDown();
    }

    // An IRP as the split read builds one: one location more than the lower device needs.
    PIRP AllocateForLower(PIO_COMPLETION_ROUTINE routine, PVOID context) {
        PIRP irp = IoAllocateIrp(lower_->StackSize + 1, FALSE);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.Others.Argument1 = reinterpret_cast<PVOID>(0x1234);
        IoSetCompletionRoutine(irp, routine, context, TRUE, TRUE, TRUE);
        return irp;
    }

    PDRIVER_OBJECT driver_ = nullptr;
    PDEVICE_OBJECT lower_ = nullptr;
};

struct Completion {
    int calls = 0;
    NTSTATUS status = STATUS_PENDING;
    BOOLEAN pendingReturned = FALSE;
    PDEVICE_OBJECT device = reinterpret_cast<PDEVICE_OBJECT>(1);
    NTSTATUS result = STATUS_MORE_PROCESSING_REQUIRED;
};

NTSTATUS RecordCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    auto* c = static_cast<Completion*>(context);
    ++c->calls;
    c->status = irp->IoStatus.Status;
    c->pendingReturned = irp->PendingReturned;
    c->device = device;
    return c->result;
}

TEST_F(IrpTest, SynchronousDeviceControlSetsTheStatusBlockAndEventAndCopiesOutput) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    UCHAR input[4] = {1, 2, 3, 4};
    UCHAR output[16] = {};
    constexpr ULONG kBuffered =
        CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
    PIRP irp = IoBuildDeviceIoControlRequest(kBuffered, lower_, input, sizeof input, output,
                                             sizeof output, FALSE, &event, &iosb);
    ASSERT_NE(irp, nullptr);
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = reinterpret_cast<PVOID>(0x1234);
    EXPECT_EQ(IoCallDriver(lower_, irp), STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&event), 1);
    EXPECT_EQ(iosb.Status, STATUS_SUCCESS);
    EXPECT_EQ(iosb.Information, 7u);
    EXPECT_EQ(output[6], 0x5A);
    EXPECT_EQ(output[7], 0) << "only Information bytes are copied back";
}

TEST_F(IrpTest, PendingDeviceControlCompletesThroughTheEvent) {
    g_mode = Mode::Queue;
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    PIRP irp = IoBuildDeviceIoControlRequest(0x220003, lower_, nullptr, 0, nullptr, 0, TRUE, &event,
                                             &iosb);
    ASSERT_EQ(IoCallDriver(lower_, irp), STATUS_PENDING);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
    CompleteQueued(STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(iosb.Status, STATUS_DEVICE_NOT_CONNECTED);
}

TEST_F(IrpTest, MoreProcessingRequiredHandsTheIrpBackToItsOriginator) {
    g_mode = Mode::Queue;
    Completion completion;
    PIRP irp = AllocateForLower(&RecordCompletion, &completion);
    EXPECT_EQ(IoCallDriver(lower_, irp), STATUS_PENDING);
    {
        VerifierCapture capture;
        IoFreeIrp(irp);
        EXPECT_TRUE(capture.Saw("while a lower driver still holds it"));
        EXPECT_TRUE(capture.Saw("irp_test.cpp"));
    }
    CompleteQueued(STATUS_SUCCESS);
    EXPECT_EQ(completion.calls, 1);
    EXPECT_EQ(completion.status, STATUS_SUCCESS);
    EXPECT_TRUE(completion.pendingReturned);
    EXPECT_EQ(completion.device, nullptr) << "the originator had no stack location";
    {
        VerifierCapture capture;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        EXPECT_TRUE(capture.Saw("completed twice"));
    }
    IoFreeIrp(irp);
}

TEST_F(IrpTest, AllocatedIrpCompletedPastItsOriginatorIsReported) {
    Completion completion;
    completion.result = STATUS_SUCCESS;
    PIRP irp = AllocateForLower(&RecordCompletion, &completion);
    VerifierCapture capture;
    IoCallDriver(lower_, irp);
    EXPECT_TRUE(capture.Saw("must return STATUS_MORE_PROCESSING_REQUIRED"));
    IoFreeIrp(irp);
}

TEST_F(IrpTest, CancelRunsTheCancelRoutineAndTheCompletionSeesCancelled) {
    g_mode = Mode::Queue;
    Completion completion;
    PIRP irp = AllocateForLower(&RecordCompletion, &completion);
    IoCallDriver(lower_, irp);
    KSPIN_LOCK callerLock;
    KeInitializeSpinLock(&callerLock);
    KIRQL old;
    KeAcquireSpinLock(&callerLock, &old); // the split read cancels under its own lock
    EXPECT_TRUE(IoCancelIrp(irp));
    KeReleaseSpinLock(&callerLock, old);
    EXPECT_EQ(completion.calls, 1);
    EXPECT_EQ(completion.status, STATUS_CANCELLED);
    EXPECT_FALSE(IoCancelIrp(irp)) << "no cancel routine any more";
    IoFreeIrp(irp);
}

TEST_F(IrpTest, DispatchRoutineMustMarkWhatItPends) {
    g_mode = Mode::PendWithoutMark;
    Completion completion;
    PIRP irp = AllocateForLower(&RecordCompletion, &completion);
    {
        VerifierCapture capture;
        IoCallDriver(lower_, irp);
        EXPECT_TRUE(capture.Saw("without IoMarkIrpPending"));
    }
    g_queued->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(g_queued, IO_NO_INCREMENT);
    IoFreeIrp(irp);
}

TEST_F(IrpTest, IrpWithoutALocationForTheDeviceIsReported) {
    PIRP irp = IoAllocateIrp(1, FALSE);
    IoSetNextIrpStackLocation(irp); // the caller takes the only location
    VerifierCapture capture;
    EXPECT_EQ(IoCallDriver(lower_, irp), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(capture.Saw("no stack location left"));
    IoFreeIrp(irp);
}

TEST_F(IrpTest, AllocationFailuresOfIrpsAndMdlsCanBeInjected) {
    sim::pool::FailAllocationsWithTag(sim::pool::kIrpTag);
    EXPECT_EQ(IoAllocateIrp(2, FALSE), nullptr);
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb;
    EXPECT_EQ(IoBuildDeviceIoControlRequest(0x220003, lower_, nullptr, 0, nullptr, 0, TRUE, &event,
                                            &iosb),
              nullptr);
    sim::pool::ClearInjectedFailures();
    sim::pool::FailAllocationsWithTag(sim::pool::kMdlTag);
    void* buffer = ExAllocatePoolWithTag(NonPagedPool, 100, sim::pool::Tag("Tstm"));
    EXPECT_EQ(IoAllocateMdl(buffer, 100, FALSE, FALSE, nullptr), nullptr);
    sim::pool::ClearInjectedFailures();
    ExFreePoolWithTag(buffer, sim::pool::Tag("Tstm"));
}

TEST_F(IrpTest, TheNthIrpAloneCanBeFailedAmongOtherAllocations) {
    sim::pool::FailNthAllocationWhere(
        [](const sim::pool::AllocationRequest& request) {
            return request.tag == sim::pool::kIrpTag;
        },
        2);
    void* buffer = ExAllocatePoolWithTag(NonPagedPool, 100, sim::pool::Tag("Tstm"));
    PIRP first = IoAllocateIrp(2, FALSE);
    PMDL mdl = IoAllocateMdl(buffer, 100, FALSE, FALSE, nullptr);
    PIRP second = IoAllocateIrp(2, FALSE);
    PIRP third = IoAllocateIrp(2, FALSE);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(mdl, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(sim::pool::AllocationsWhere(), 3u);
    sim::pool::ClearInjectedFailures();
    IoFreeIrp(first);
    IoFreeIrp(third);
    IoFreeMdl(mdl);
    ExFreePoolWithTag(buffer, sim::pool::Tag("Tstm"));
}

using MdlTest = sim::testing::VerifiedTest;

TEST_F(MdlTest, PartialMdlsMapTheirPartOfANonPagedBuffer) {
    constexpr ULONG kLength = 3 * 65536 + 100;
    auto* buffer =
        static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPool, kLength, sim::pool::Tag("Tstm")));
    PMDL whole = IoAllocateMdl(buffer, kLength, FALSE, FALSE, nullptr);
    MmBuildMdlForNonPagedPool(whole);
    EXPECT_EQ(MmGetSystemAddressForMdlSafe(whole, NormalPagePriority), buffer);

    PIRP irp = IoAllocateIrp(2, FALSE);
    PMDL part = IoAllocateMdl(buffer, kLength, FALSE, FALSE, irp);
    EXPECT_EQ(irp->MdlAddress, part);
    IoBuildPartialMdl(whole, part, buffer + 2 * 65536, 65536);
    EXPECT_EQ(MmGetSystemAddressForMdlSafe(part, NormalPagePriority), buffer + 2 * 65536);
    EXPECT_EQ(MmGetMdlVirtualAddress(part), buffer + 2 * 65536);
    EXPECT_EQ(MmGetMdlByteCount(part), 65536u);
    {
        VerifierCapture capture;
        IoBuildPartialMdl(whole, part, buffer + 3 * 65536, 65536);
        EXPECT_TRUE(capture.Saw("outside the source MDL"));
    }
    irp->MdlAddress = nullptr;
    IoFreeMdl(part);
    IoFreeIrp(irp);
    IoFreeMdl(whole);
    ExFreePoolWithTag(buffer, sim::pool::Tag("Tstm"));

    UCHAR local[64];
    PMDL stackMdl = IoAllocateMdl(local, sizeof local, FALSE, FALSE, nullptr);
    VerifierCapture capture;
    MmBuildMdlForNonPagedPool(stackMdl);
    EXPECT_TRUE(capture.Saw("not inside one block of non-paged pool"));
    IoFreeMdl(stackMdl);
}

} // namespace
