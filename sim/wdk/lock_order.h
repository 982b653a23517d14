// The lock-order check of the platform's deadlock verifier. Every spin lock, kernel mutex and
// fast mutex a thread takes is recorded against the locks that thread already holds; the first
// time two locks are taken in both orders anywhere in the run (on one thread or on two) is a
// verifier failure naming both acquisition sites, whether or not that run deadlocked.
//
// Locks are told apart per instance. A lock is born when it is initialised (or first taken,
// when it never was) and dies when the pool block or the class-driver object holding it goes
// or a lock is initialised at its address again; its recorded orders die with it, so a new lock
// at a recycled address starts with none.
#pragma once

#include <cstddef>

namespace sim::lock_order {

enum class Kind { SpinLock, Mutex, FastMutex };

// A lock is (re)initialised at this address.
void Born(const void* lock, Kind kind);
// Every lock lying in [begin, begin + bytes) dies.
void ForgetRange(const void* begin, size_t bytes);
// A name for reports ("device mutex"); kept until the lock dies.
void Name(const void* lock, const char* name);

// The calling thread is about to wait for the lock at file:line: its order against every lock
// the thread holds is checked and recorded. Taking a lock the thread holds already (a kernel
// mutex's recursion) records nothing.
void Taking(const void* lock, Kind kind, const char* file, int line);
// The calling thread now holds the lock (once more, for a recursive kernel mutex).
void Taken(const void* lock, Kind kind, const char* file, int line);
// The calling thread gave up one hold of the lock.
void Released(const void* lock);

// Inversions reported so far in this run.
int Inversions();

} // namespace sim::lock_order
