// The bus thread: serves the head transfer of each IN endpoint as the device provides data,
// applies injected faults when it first serves a transfer, and completes transfers at
// DISPATCH_LEVEL.
#include <algorithm>

#include "sim/usb/bus_impl.h"

namespace sim::usb {

void Bus::Impl::Run() {
    std::vector<uint8_t> scratch(65536);
    std::vector<Completion>& completions = completions_;
    std::vector<uint8_t>& candidates = candidates_;
    std::unique_lock<std::mutex> lock(Mutex());
    for (;;) {
        if (stopping_) {
            return;
        }
        wakeup_->pending = false;
        Clock::time_point nextDeadline = Clock::time_point::max();
        bool progress = false;
        completions.clear();
        candidates.clear();
        for (const auto& [address, endpoint] : endpoints_) {
            if (USB_ENDPOINT_DIRECTION_IN(address) && !endpoint.queue.empty() && !endpoint.halted &&
                portEnabled_) {
                candidates.push_back(address);
            }
        }
        // The lock is dropped while the device copies data, so the endpoint is looked up
        // afresh each time: a configuration change may have replaced the map meanwhile.
        for (const uint8_t ep : candidates) {
            auto found = endpoints_.find(ep);
            if (found == endpoints_.end() || found->second.queue.empty() || found->second.halted ||
                !portEnabled_ || stopping_) {
                continue;
            }
            Endpoint& endpoint = found->second;
            PendingTransfer& t = endpoint.queue.front();
            if (t.fault) {
                const TransferFault fault = *t.fault;
                t.fault.reset();
                ++counters_.faultsStruck;
                queueChanged_.notify_all();
                if (Strike(fault, endpoint, t, &completions)) {
                    continue;
                }
            }
            if (!t.started) {
                t.started = true;
                const Clock::time_point now = Clock::now();
                // Queued while the one before was still on the bus: it follows that one
                // straight away, as on the wire, even when this thread comes round late.
                const Clock::time_point begin =
                    t.queuedAt < endpoint.lastDue ? std::min(endpoint.lastDue, now) : now;
                t.readyAt = begin + endpoint.delay;
                if (endpoint.shortenNext != SIZE_MAX) {
                    t.limit = std::min(t.length, endpoint.shortenNext);
                    endpoint.shortenNext = SIZE_MAX;
                }
            }
            const Clock::time_point served = Clock::now();
            if (served < t.readyAt) {
                nextDeadline = std::min(nextDeadline, t.readyAt);
                continue;
            }
            // While busy, the transfer and its endpoint stay: cancellation, aborts and
            // configuration changes wait for the copy to finish.
            t.busy = true;
            const size_t drop = endpoint.drop;
            lock.unlock();
            // Lost data first, then the transfer's own.
            size_t dropped = 0;
            while (dropped < drop) {
                const auto r =
                    model_.In(ep, scratch.data(), std::min(scratch.size(), drop - dropped));
                if (r.bytes == 0) {
                    break;
                }
                dropped += r.bytes;
            }
            DeviceModel::InResult result{};
            if (dropped == drop && t.done < t.limit) {
                result = model_.In(ep, t.buffer + t.done, t.limit - t.done);
            }
            lock.lock();
            endpoint.drop -= dropped;
            t.busy = false;
            t.done += result.bytes;
            progress = progress || dropped > 0 || result.bytes > 0;
            if (t.cancelled) {
                completions.push_back({t.irp, t.urb, STATUS_CANCELLED, USBD_STATUS_CANCELED});
                ++counters_.cancelled;
            } else if (t.done == t.length || t.done == t.limit || result.shortPacket) {
                t.urb->UrbBulkOrInterruptTransfer.TransferBufferLength = static_cast<ULONG>(t.done);
                const bool shortOk =
                    (t.urb->UrbBulkOrInterruptTransfer.TransferFlags & USBD_SHORT_TRANSFER_OK) != 0;
                if (t.done < t.length && !shortOk) {
                    completions.push_back(
                        {t.irp, t.urb, STATUS_UNSUCCESSFUL, USBD_STATUS_ERROR_SHORT_TRANSFER});
                } else {
                    completions.push_back({t.irp, t.urb, STATUS_SUCCESS, USBD_STATUS_SUCCESS});
                    ++counters_.inCompleted;
                }
            } else {
                t.starved = true;
                queueChanged_.notify_all();
                continue;
            }
            // A transfer that waited for its data, not for its time, leaves the bus now.
            endpoint.lastDue = t.starved ? served : t.readyAt;
            Retire(endpoint, endpoint.queue.begin());
            queueChanged_.notify_all();
        }
        if (!completions.empty()) {
            // Cancel routines may run meanwhile; they find these transfers gone.
            for (const Completion& c : completions) {
                IoSetCancelRoutine(c.irp, nullptr);
            }
            lock.unlock();
            CompleteAll(completions);
            lock.lock();
            continue;
        }
        if (progress || wakeup_->pending) {
            continue;
        }
        if (nextDeadline == Clock::time_point::max()) {
            wakeup_->condition.wait(lock);
        } else {
            wakeup_->condition.wait_until(lock, nextDeadline);
        }
    }
}

bool Bus::Impl::Strike(TransferFault fault, Endpoint& endpoint, PendingTransfer& t,
                       std::vector<Completion>* completions) {
    switch (fault) {
    case TransferFault::Stall:
        endpoint.halted = true;
        completions->push_back({t.irp, t.urb, STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID});
        Retire(endpoint, endpoint.queue.begin());
        queueChanged_.notify_all();
        return true;
    case TransferFault::Short:
        t.limit = std::max<size_t>(t.done, t.length / 2);
        return false;
    case TransferFault::LostData:
        endpoint.drop += 1000;
        return false;
    case TransferFault::LongDelay:
        t.started = true;
        t.readyAt = Clock::now() + std::chrono::seconds(1);
        return false;
    case TransferFault::DisablePort:
        portEnabled_ = false;
        return true;
    case TransferFault::Unplug:
        unplugged_ = true;
        for (auto& [address, other] : endpoints_) {
            for (PendingTransfer& pending : other.queue) {
                completions->push_back({pending.irp, pending.urb, STATUS_DEVICE_NOT_CONNECTED,
                                        USBD_STATUS_DEVICE_GONE});
            }
            RetireAll(other);
        }
        queueChanged_.notify_all();
        return true;
    }
    return false;
}

} // namespace sim::usb
