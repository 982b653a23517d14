// The bus's insides, shared by the files that implement it: request handling
// (bus_requests.cpp), the endpoint queues and cancellation (endpoint_queues.cpp), the bus thread
// (bus_thread.cpp), and the fault and observation interface (bus.cpp).
//
// Locking: one mutex (the wake-up's) guards everything below it. Completions are collected
// under it and delivered after it is dropped, at DISPATCH_LEVEL.
#pragma once

#include <chrono>
#include <condition_variable>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "sim/usb/bus.h"

namespace sim::usb {

using Clock = std::chrono::steady_clock;

struct Pipe {
    uint8_t endpoint;
    USBD_PIPE_TYPE type;
    ULONG maximumTransferSize;
};

// One queued IN transfer.
struct PendingTransfer {
    PIRP irp;
    PURB urb;
    uint8_t* buffer;
    size_t length;
    size_t limit; // the transfer ends after this many bytes (a short packet)
    size_t done = 0;
    bool started = false;
    bool busy = false;      // the bus thread is copying into it outside the lock
    bool cancelled = false; // cancelled while busy
    Clock::time_point queuedAt{};
    Clock::time_point readyAt{};
    bool starved = false; // its data was not all there when its time had come
    std::optional<TransferFault> fault{};
};

struct Endpoint {
    // A list: a cancelled transfer leaves from the middle while the bus thread holds a
    // reference to the busy one at the front, which erasing from a deque would move.
    std::list<PendingTransfer> queue;
    // When the bus is done with the transfer before the head: with a transfer delay, one that
    // was queued behind it starts then rather than when the bus thread comes round to it, so
    // that the endpoint streams at the delay's rate however late the thread wakes.
    Clock::time_point lastDue = Clock::time_point::min();
    bool halted = false;
    size_t shortenNext = SIZE_MAX;
    size_t drop = 0;
    std::chrono::microseconds delay{0};
};

struct Completion {
    PIRP irp;
    PURB urb;
    NTSTATUS status;
    USBD_STATUS usbdStatus;
};

// What the device's data-ready callback reaches; shared so that a late callback after the bus
// is gone touches nothing freed.
struct Wakeup {
    std::mutex mutex;
    std::condition_variable condition;
    bool pending = false;
    void Notify() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            pending = true;
        }
        condition.notify_all();
    }
};

class Bus::Impl {
public:
    explicit Impl(DeviceModel& model);
    ~Impl();

    std::mutex& Mutex() const { return wakeup_->mutex; }
    // Marks the wake-up as well as signalling it: a bus thread that is busy with another
    // endpoint (its lock dropped for the copy) is not waiting to hear the signal, and must find
    // the mark when it comes back, or the new request waits for unrelated traffic.
    void Wake() { wakeup_->Notify(); }

    // Requests (bus_requests.cpp).
    static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp);
    static NTSTATUS Finish(PIRP irp, PURB urb, NTSTATUS status, USBD_STATUS usbdStatus);
    NTSTATUS Handle(PIRP irp);
    NTSTATUS SubmitUrb(PIRP irp, PURB urb);
    // The transfer buffer of a request, from its MDL or its virtual address.
    static uint8_t* TransferBuffer(PVOID buffer, PMDL mdl, ULONG length, const char* what);
    NTSTATUS GetDescriptor(PIRP irp, PURB urb);
    NTSTATUS SelectConfiguration(PIRP irp, PURB urb);
    // Fills the interface information of a select-configuration URB. Called with the lock held.
    NTSTATUS Configure(PURB urb, USBD_STATUS* usbdStatus);
    NTSTATUS BulkTransfer(PIRP irp, PURB urb);
    NTSTATUS ResetPipe(PIRP irp, PURB urb);
    NTSTATUS AbortPipe(PIRP irp, PURB urb);
    const Pipe* FindPipe(USBD_PIPE_HANDLE handle) const;

    // Endpoint queues (endpoint_queues.cpp). A transfer's list node is kept for the next one
    // when it leaves a queue, so that steady streaming allocates nothing.
    void Retire(Endpoint& endpoint, std::list<PendingTransfer>::iterator transfer);
    void RetireAll(Endpoint& endpoint);
    // Queues an IN transfer for the bus thread, or completes it at once when it was cancelled
    // already; STATUS_PENDING either way. Called with the lock held; returns with it dropped.
    NTSTATUS QueueIn(PIRP irp, PURB urb, Endpoint& endpoint, uint8_t* buffer, size_t length,
                     std::unique_lock<std::mutex>& lock);
    // Removes every transfer of the endpoint for completion with the status, waiting for one the
    // bus thread is still copying into.
    void TakeQueue(Endpoint& endpoint, NTSTATUS status, USBD_STATUS usbdStatus,
                   std::vector<Completion>* completions, std::unique_lock<std::mutex>& lock);
    void FailAll(NTSTATUS status, USBD_STATUS usbdStatus);
    static void CompleteAll(const std::vector<Completion>& completions);
    static VOID CancelTransfer(PDEVICE_OBJECT device, PIRP irp);
    void Cancel(PIRP irp);

    // The bus thread (bus_thread.cpp): serves the head transfer of each IN endpoint as data
    // arrives.
    void Run();
    // Applies an injected fault to the head transfer of the endpoint; true when the transfer
    // is no longer to be served in this pass.
    bool Strike(TransferFault fault, Endpoint& endpoint, PendingTransfer& t,
                std::vector<Completion>* completions);

    PDEVICE_OBJECT device_ = nullptr;
    DeviceModel& model_;
    std::shared_ptr<Wakeup> wakeup_;
    PDRIVER_OBJECT driver_ = nullptr;
    std::thread thread_;
    bool stopping_ = false;
    bool unplugged_ = false;
    bool portEnabled_ = true;
    ULONG maximumTransferSizeCap_ = 0xFFFFFFFF;
    uint64_t generation_ = 0;
    std::map<USBD_PIPE_HANDLE, Pipe> pipes_;
    std::map<uint8_t, Endpoint> endpoints_;
    BusCounters counters_;
    mutable std::condition_variable queueChanged_;
    std::list<PendingTransfer> spare_; // nodes of transfers gone, for the next ones
    // The bus thread's own lists, kept between its passes.
    std::vector<Completion> completions_;
    std::vector<uint8_t> candidates_;
};

} // namespace sim::usb
