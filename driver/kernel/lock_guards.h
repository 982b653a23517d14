// Scoped holds of the kernel's locks: each guard takes its lock when constructed and gives it
// back when the scope ends, on every return path. Guards cannot be copied or moved. The
// simulated platform learns from each guard the line that declared it, for its lock-order
// reports.
#pragma once

#include "driver/kernel/call_site.h"
#include "driver/wdk.h"

namespace zyn {

// A spin lock, at DISPATCH_LEVEL until the scope ends.
class SpinLockGuard {
public:
    explicit SpinLockGuard(PKSPIN_LOCK lock, CallSite site = CallSite::Here()) : lock_(lock) {
#if defined(ZYN_SIMULATED)
        KeAcquireSpinLock(lock_, &irql_, site.file, site.line);
#else
        (void)site;
        KeAcquireSpinLock(lock_, &irql_);
#endif
    }
    ~SpinLockGuard() {
        KeReleaseSpinLock(lock_, irql_);
    }
    SpinLockGuard(const SpinLockGuard&) = delete;
    SpinLockGuard& operator=(const SpinLockGuard&) = delete;

private:
    PKSPIN_LOCK lock_;
    KIRQL irql_ = PASSIVE_LEVEL;
};

// A kernel mutex, taken by an untimed wait (recursively by its owner).
class MutexGuard {
public:
    explicit MutexGuard(PKMUTEX mutex, CallSite site = CallSite::Here()) : mutex_(mutex) {
        // An untimed, non-alertable kernel-mode wait for a mutex only returns once it is owned.
#if defined(ZYN_SIMULATED)
        (VOID) KeWaitForSingleObject(mutex_, Executive, KernelMode, FALSE, nullptr, site.file,
                                     site.line);
#else
        (void)site;
        (VOID) KeWaitForSingleObject(mutex_, Executive, KernelMode, FALSE, nullptr);
#endif
    }
    ~MutexGuard() {
        (VOID) KeReleaseMutex(mutex_, FALSE);
    }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    PKMUTEX mutex_;
};

// A fast mutex, at APC_LEVEL until the scope ends; not recursive.
class FastMutexGuard {
public:
    explicit FastMutexGuard(PFAST_MUTEX mutex, CallSite site = CallSite::Here()) : mutex_(mutex) {
#if defined(ZYN_SIMULATED)
        ExAcquireFastMutex(mutex_, site.file, site.line);
#else
        (void)site;
        ExAcquireFastMutex(mutex_);
#endif
    }
    ~FastMutexGuard() {
        ExReleaseFastMutex(mutex_);
    }
    FastMutexGuard(const FastMutexGuard&) = delete;
    FastMutexGuard& operator=(const FastMutexGuard&) = delete;

private:
    PFAST_MUTEX mutex_;
};

// Normal kernel APCs disabled, so that the thread cannot be suspended inside the scope.
class CriticalRegionGuard {
public:
    CriticalRegionGuard() { KeEnterCriticalRegion(); }
    ~CriticalRegionGuard() { KeLeaveCriticalRegion(); }
    CriticalRegionGuard(const CriticalRegionGuard&) = delete;
    CriticalRegionGuard& operator=(const CriticalRegionGuard&) = delete;
};

// The kernel streaming device mutex, which also guards the device's object bag.
class DeviceGuard {
public:
    explicit DeviceGuard(PKSDEVICE device, CallSite site = CallSite::Here()) : device_(device) {
#if defined(ZYN_SIMULATED)
        KsAcquireDevice(device_, site.file, site.line);
#else
        (void)site;
        KsAcquireDevice(device_);
#endif
    }
    ~DeviceGuard() {
        KsReleaseDevice(device_);
    }
    DeviceGuard(const DeviceGuard&) = delete;
    DeviceGuard& operator=(const DeviceGuard&) = delete;

private:
    PKSDEVICE device_;
};

} // namespace zyn
