// Kernel pool allocation with the checks of a driver verifier. Every block carries its tag,
// size and the place that allocated it; a free with another tag, a double free, a free of
// memory the pool never gave and an overrun past the block's end are reported. New blocks are
// filled with a non-zero pattern so that code relying on zeroed pool shows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/wdk/wdk_types.h"

typedef enum _POOL_TYPE {
    NonPagedPool = 0,
    NonPagedPoolExecute = 0,
    PagedPool = 1,
    NonPagedPoolMustSucceed = 2,
    NonPagedPoolCacheAligned = 4,
    PagedPoolCacheAligned = 5,
    NonPagedPoolNx = 512,
} POOL_TYPE;

PVOID ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T bytes, ULONG tag,
                            const char* file = __builtin_FILE(), int line = __builtin_LINE());
PVOID ExAllocatePool(POOL_TYPE type, SIZE_T bytes, const char* file = __builtin_FILE(),
                     int line = __builtin_LINE());
VOID ExFreePoolWithTag(PVOID block, ULONG tag, const char* file = __builtin_FILE(),
                       int line = __builtin_LINE());
VOID ExFreePool(PVOID block, const char* file = __builtin_FILE(), int line = __builtin_LINE());

namespace sim::pool {

// The tag whose bytes in memory are the four characters given: Tag("KCNw").
constexpr ULONG Tag(const char (&chars)[5]) {
    return static_cast<ULONG>(static_cast<uint8_t>(chars[0])) |
           static_cast<ULONG>(static_cast<uint8_t>(chars[1])) << 8 |
           static_cast<ULONG>(static_cast<uint8_t>(chars[2])) << 16 |
           static_cast<ULONG>(static_cast<uint8_t>(chars[3])) << 24;
}

// The tag as its four characters, for messages.
std::string TagText(ULONG tag);

// The tag ExAllocatePool (no tag given) records.
constexpr ULONG kUntaggedTag = Tag("None");

struct TagCounters {
    uint64_t allocations = 0; // successful allocations
    uint64_t frees = 0;
    uint64_t failures = 0; // allocations refused by the low-resources simulation
    uint64_t liveBlocks = 0;
    uint64_t liveBytes = 0;
};

TagCounters Counters(ULONG tag);
uint64_t LiveBlocks();

// Serial number of the next allocation; blocks allocated from a mark on can be checked for
// leaks on their own (a driver image's lifetime, one test).
uint64_t Mark();
// Reports every block allocated since the mark and still live as a verifier failure naming
// tag, size and allocation site; returns how many there were.
size_t ReportLeaksSince(uint64_t mark, const char* context);

// Whether [address, address + bytes) lies inside one live block.
bool ContainsRange(const void* address, size_t bytes);

// Low-resources simulation. The Nth allocation from now fails (1 = the next one).
void FailNthAllocation(uint64_t n);
// Every allocation with this tag fails until the failures are cleared.
void FailAllocationsWithTag(ULONG tag);
// The allocations of one kind, chosen by tag, size or site (IRPs by kIrpTag, say), counted
// and failed on their own: from now on the filter sees every allocation request, and the nth it
// accepts fails (n = 0: none fails, the requests are only counted).
struct AllocationRequest {
    ULONG tag;
    size_t bytes;
    const char* file;
    int line;
};
using AllocationFilter = bool (*)(const AllocationRequest& request);
void FailNthAllocationWhere(AllocationFilter filter, uint64_t n);
// How many requests the filter accepted since it was set, the failed one included.
uint64_t AllocationsWhere();
// The request the last injected failure refused ({} when none was), to name it in messages.
AllocationRequest LastInjectedFailure();
// Clears every injected failure, the filter included.
void ClearInjectedFailures();

} // namespace sim::pool
