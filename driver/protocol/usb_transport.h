// The camera's USB transport: the device's configuration and pipes, synchronous requests to
// the USB stack below the driver, and the split bulk read that brings in a whole frame with
// one outstanding request per 64 KiB.
//
// Pipes are the selected interface's, by index; a transfer's direction follows bit 7 of the
// pipe's endpoint address. Everything except the completion routine runs at PASSIVE_LEVEL.
// The synchronous operations take no lock: callers serialise what must not interleave (the
// command channel holds a lock per device around a command and its answers).
#pragma once

#include "driver/kernel/interlocked.h"
#include "driver/protocol/bulk_chunk_record.h"
#include "driver/protocol/command_packet.h"
#include "driver/wdk.h"

namespace zyn {

class UsbTransport {
public:
    UsbTransport();
    // Frees what a configuration left allocated, and a record array kept between frames.
    ~UsbTransport();
    UsbTransport(const UsbTransport&) = delete;
    UsbTransport& operator=(const UsbTransport&) = delete;

    // The device stack: `next` receives every request; `physical` opens the device's registry
    // key; `functional` is the driver's own device object.
    VOID Attach(PDEVICE_OBJECT physical, PDEVICE_OBJECT next, PDEVICE_OBJECT functional);
    // Keep the record array from frame to frame (reallocated only when the chunk count
    // changes) instead of allocating one for each frame.
    VOID SetKeepChunkRecords(BOOLEAN keep) { keepRecords_ = keep; }

    PDEVICE_OBJECT PhysicalDeviceObject() const { return physical_; }
    PDEVICE_OBJECT NextDeviceObject() const { return next_; }
    PDEVICE_OBJECT FunctionalDeviceObject() const { return functional_; }
    BOOLEAN IsConfigured() const { return interface_ != nullptr; }
    const USBD_INTERFACE_INFORMATION* InterfaceInformation() const { return interface_; }
    const USB_CONFIGURATION_DESCRIPTOR* ConfigurationDescriptor() const { return configuration_; }

    // The request's final status; waits without a timeout.
    NTSTATUS SubmitUrb(PURB urb);
    // A bulk or interrupt transfer of `length` bytes from or into `buffer`; `transferred`
    // receives the bytes moved (a short IN transfer reports its short count). A transfer the
    // camera has not taken or answered within kPipeTransferTimeoutMs is cancelled and fails
    // with STATUS_IO_TIMEOUT. A pipe that stalled is reset before the failure is returned (the
    // port when the pipe reset fails too), so that the next transfer finds it working.
    NTSTATUS PipeTransfer(ULONG pipe, ULONG length, PVOID buffer, PULONG transferred);
    static constexpr ULONG kPipeTransferTimeoutMs = 500;
    // Clears a stall; any non-negative status is reported as STATUS_SUCCESS.
    NTSTATUS ResetPipe(ULONG pipe);
    // Aborts every pipe marked for it and clears the mark of each pipe aborted. Succeeds unless
    // an allocation fails.
    NTSTATUS AbortPipes();
    VOID MarkPipeForAbort(ULONG pipe);
    NTSTATUS GetPortStatus(PULONG portStatus);
    NTSTATUS ResetPort();
    // Resets the port when the hub reports it connected but disabled.
    VOID RecoverPort();

    // Reads the descriptors, selects configuration 0 with its interfaces and records the first
    // interface's pipes.
    NTSTATUS Configure();
    // Frees the descriptors and pipe information, then puts the device in the unconfigured
    // state; the status is that of the request.
    NTSTATUS Unconfigure();

    // Reads `length` bytes from `pipe` into `buffer` (non-paged pool) as one burst of
    // outstanding requests of 64 KiB, bracketed by the frame request and reads-queued commands
    // on the command pipe. STATUS_TIMEOUT when the requests did not all complete within
    // `timeoutMs`; the undone ones are cancelled and waited for first.
    NTSTATUS SplitBulkRead(ULONG pipe, ULONG length, PVOID buffer, ULONG timeoutMs);
    // From another thread: cancels the requests of a read in progress that have not completed
    // and waits until they have.
    VOID CancelReads();
    // From another thread: as CancelReads, and no frame read submits anything until
    // ResumeReads (a read that begins meanwhile fails at once with STATUS_CANCELLED). A read
    // between its frame request and its submissions is either waited for and cancelled, or
    // finds the halt before it submits.
    VOID HaltReads();
    VOID ResumeReads();
    BOOLEAN ReadsHalted() const { return ReadInterlocked(&readsHalted_) != 0; }
    // Frees the requests the split read keeps from frame to frame; no read may be in
    // progress. The stream's end calls it, and so does the configuration's.
    VOID FreeChunkKits();
    // Frame reads that ended in their timeout since the transport was created.
    ULONG ReadTimeouts() const { return static_cast<ULONG>(ReadInterlocked(&readTimeouts_)); }

private:
    NTSTATUS SendIoctl(ULONG code, PVOID argument);
    // SubmitUrb with a bound: the request is cancelled after `timeoutMs` and waited for.
    NTSTATUS SubmitUrbWithin(PURB urb, ULONG timeoutMs);
    // After a failed transfer: clears a stall, re-enables a port the hub disabled, or, after a
    // transfer cancelled on its bound, resets the pipe so that a late answer cannot be taken
    // for the next command's.
    VOID RecoverPipe(ULONG pipe, NTSTATUS status, USBD_STATUS usbdStatus);
    NTSTATUS CheckPipe(ULONG pipe, PUSBD_PIPE_INFORMATION* info) const;
    NTSTATUS PipeRequest(USHORT function, USBD_PIPE_HANDLE handle);
    NTSTATUS ReadDescriptor(PURB urb, UCHAR type, PVOID buffer, ULONG length, PULONG received);
    NTSTATUS SelectConfiguration(PUSB_CONFIGURATION_DESCRIPTOR configuration);
    VOID FreeConfiguration();

    // The split read's steps.
    NTSTATUS PrepareRead(ULONG count, ULONG length, PVOID buffer);
    NTSTATUS SubmitChunk(ULONG index, ULONG offset, ULONG chunkLength, PVOID buffer,
                         const USBD_PIPE_INFORMATION& pipe, PBOOLEAN passedDown);
    // The request of chunk `index`, allocated at its first use and reused after that.
    NTSTATUS TakeChunkKit(ULONG index, PVOID chunkStart, ULONG chunkLength, BulkChunkKit** kit);
    ULONG CancelUndoneLocked();
    NTSTATUS ChunkOutcome(ULONG submitted, ULONG length) const;
    VOID ReleaseRead();
    VOID SendReadCommand(const CommandPacket& packet);
    static NTSTATUS NTAPI ChunkCompleted(PDEVICE_OBJECT device, PIRP irp, PVOID context);

    PDEVICE_OBJECT physical_ = nullptr;
    PDEVICE_OBJECT next_ = nullptr;
    PDEVICE_OBJECT functional_ = nullptr;
    PUSB_CONFIGURATION_DESCRIPTOR configuration_ = nullptr;
    PUSBD_INTERFACE_INFORMATION interface_ = nullptr;
    // One mark per pipe, written from the reading thread and cleared by AbortPipes on another.
    volatile LONG* abortMarks_ = nullptr;

    // The split read. The spin lock guards the record array and the submission and
    // cancellation of its requests; the counters and done marks are interlocked because the
    // completion routine takes no lock.
    KEVENT readCompleted_;
    BulkChunkRecord* records_ = nullptr;
    ULONG recordCapacity_ = 0; // chunk records the array holds, not counting its end record
    volatile LONG completed_ = 0;
    volatile LONG inFlight_ = 0;
    KSPIN_LOCK submitLock_ = 0;
    PMDL wholeBufferMdl_ = nullptr;
    // One request per chunk, kept between frames so that a steady stream allocates none.
    BulkChunkKit* kits_ = nullptr;
    ULONG kitCapacity_ = 0;
    CommandPacket readPacket_; // the split read's own command packet area
    BOOLEAN keepRecords_ = FALSE;
    mutable volatile LONG readTimeouts_ = 0;
    volatile LONG readsHalted_ = 0; // changed under the submission spin lock
};

} // namespace zyn
