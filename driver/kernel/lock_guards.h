// Scoped holds of the kernel's locks: each guard takes its lock when constructed and gives it
// back when the scope ends, on every return path. Guards cannot be copied or moved.
#pragma once

#include "driver/kernel/lock_site.h"
#include "driver/wdk.h"

namespace zyn {

// A spin lock, at DISPATCH_LEVEL until the scope ends.
class SpinLockGuard {
public:
    explicit SpinLockGuard(PKSPIN_LOCK lock, LockSite site = LockSite::Here()) : lock_(lock) {
        (void)site;
        KeAcquireSpinLock(lock_, &irql_);
    }
    ~SpinLockGuard() { KeReleaseSpinLock(lock_, irql_); }
    SpinLockGuard(const SpinLockGuard&) = delete;
    SpinLockGuard& operator=(const SpinLockGuard&) = delete;

private:
    PKSPIN_LOCK lock_;
    KIRQL irql_ = PASSIVE_LEVEL;
};

// A kernel mutex, taken by an untimed wait (recursively by its owner).
class MutexGuard {
public:
    explicit MutexGuard(PKMUTEX mutex, LockSite site = LockSite::Here()) : mutex_(mutex) {
        (void)site;
        // An untimed, non-alertable kernel-mode wait for a mutex only returns once it is owned.
        (VOID) KeWaitForSingleObject(mutex_, Executive, KernelMode, FALSE, nullptr);
    }
    ~MutexGuard() { (VOID) KeReleaseMutex(mutex_, FALSE); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    PKMUTEX mutex_;
};

// A fast mutex, at APC_LEVEL until the scope ends; not recursive.
class FastMutexGuard {
public:
    explicit FastMutexGuard(PFAST_MUTEX mutex, LockSite site = LockSite::Here())
        : mutex_(mutex) {
        (void)site;
        ExAcquireFastMutex(mutex_);
    }
    ~FastMutexGuard() { ExReleaseFastMutex(mutex_); }
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
    explicit DeviceGuard(PKSDEVICE device, LockSite site = LockSite::Here()) : device_(device) {
        (void)site;
        KsAcquireDevice(device_);
    }
    ~DeviceGuard() { KsReleaseDevice(device_); }
    DeviceGuard(const DeviceGuard&) = delete;
    DeviceGuard& operator=(const DeviceGuard&) = delete;

private:
    PKSDEVICE device_;
};

} // namespace zyn
