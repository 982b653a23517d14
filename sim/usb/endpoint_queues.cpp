// The IN transfers waiting on each endpoint: queueing, taking a queue whole for completion,
// and cancellation, which may race with the bus thread copying into the head transfer.
#include <iterator>

#include "sim/usb/bus_impl.h"

namespace sim::usb {

NTSTATUS Bus::Impl::QueueIn(PIRP irp, PURB urb, Endpoint& endpoint, uint8_t* buffer, size_t length,
                            std::unique_lock<std::mutex>& lock) {
    IoMarkIrpPending(irp);
    urb->UrbHeader.Status = USBD_STATUS_PENDING;
    // The bus thread serves only the head of a queue, and comes back to the queue by itself
    // after each transfer it completes: only a new head is news to it.
    const bool head = endpoint.queue.empty();
    PendingTransfer transfer{irp, urb, buffer, length, length};
    transfer.queuedAt = Clock::now();
    if (spare_.empty()) {
        endpoint.queue.push_back(transfer);
    } else {
        spare_.front() = transfer;
        endpoint.queue.splice(endpoint.queue.end(), spare_, spare_.begin());
    }
    IoSetCancelRoutine(irp, &CancelTransfer);
    if (__atomic_load_n(&irp->Cancel, __ATOMIC_ACQUIRE) &&
        IoSetCancelRoutine(irp, nullptr) != nullptr) {
        Retire(endpoint, std::prev(endpoint.queue.end()));
        ++counters_.cancelled;
        lock.unlock();
        Finish(irp, urb, STATUS_CANCELLED, USBD_STATUS_CANCELED);
        return STATUS_PENDING;
    }
    queueChanged_.notify_all();
    lock.unlock();
    if (head) {
        Wake();
    }
    return STATUS_PENDING;
}

void Bus::Impl::Retire(Endpoint& endpoint, std::list<PendingTransfer>::iterator transfer) {
    spare_.splice(spare_.end(), endpoint.queue, transfer);
}

void Bus::Impl::RetireAll(Endpoint& endpoint) {
    spare_.splice(spare_.end(), endpoint.queue);
}

void Bus::Impl::TakeQueue(Endpoint& endpoint, NTSTATUS status, USBD_STATUS usbdStatus,
                          std::vector<Completion>* completions,
                          std::unique_lock<std::mutex>& lock) {
    queueChanged_.wait(lock,
                       [&] { return endpoint.queue.empty() || !endpoint.queue.front().busy; });
    for (PendingTransfer& t : endpoint.queue) {
        completions->push_back({t.irp, t.urb, status, usbdStatus});
    }
    RetireAll(endpoint);
    queueChanged_.notify_all();
}

void Bus::Impl::FailAll(NTSTATUS status, USBD_STATUS usbdStatus) {
    std::vector<Completion> completions;
    {
        std::unique_lock<std::mutex> lock(Mutex());
        for (auto& [address, endpoint] : endpoints_) {
            TakeQueue(endpoint, status, usbdStatus, &completions, lock);
        }
    }
    CompleteAll(completions);
}

void Bus::Impl::CompleteAll(const std::vector<Completion>& completions) {
    if (completions.empty()) {
        return;
    }
    // An IoCancelIrp that took a cancel routine before it was cleared is still reading the
    // IRP until that routine releases the cancel spin lock; the routine then finds the
    // transfer gone and leaves the completion to this thread.
    KIRQL cancelIrql;
    IoAcquireCancelSpinLock(&cancelIrql);
    IoReleaseCancelSpinLock(cancelIrql);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    for (const Completion& c : completions) {
        IoSetCancelRoutine(c.irp, nullptr);
        Finish(c.irp, c.urb, c.status, c.usbdStatus);
    }
    KeLowerIrql(old);
}

VOID Bus::Impl::CancelTransfer(PDEVICE_OBJECT device, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    (*static_cast<Impl**>(device->DeviceExtension))->Cancel(irp);
}

void Bus::Impl::Cancel(PIRP irp) {
    PURB urb = nullptr;
    {
        std::lock_guard<std::mutex> lock(Mutex());
        for (auto& [address, endpoint] : endpoints_) {
            for (auto it = endpoint.queue.begin(); it != endpoint.queue.end(); ++it) {
                if (it->irp != irp) {
                    continue;
                }
                if (it->busy) {
                    it->cancelled = true; // the bus thread completes it
                    return;
                }
                urb = it->urb;
                const bool wasHead = it == endpoint.queue.begin();
                Retire(endpoint, it);
                ++counters_.cancelled;
                queueChanged_.notify_all();
                if (wasHead && !endpoint.queue.empty()) {
                    wakeup_->pending = true; // the new head is news to the bus thread
                    wakeup_->condition.notify_all();
                }
                goto found;
            }
        }
        return; // being completed already
    }
found:
    Finish(irp, urb, STATUS_CANCELLED, USBD_STATUS_CANCELED);
}

} // namespace sim::usb
