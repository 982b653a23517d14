#include "sim/wdk/pool.h"

#include <cstdlib>
#include <mutex>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "sim/wdk/irql.h"
#include "sim/wdk/lock_order.h"
#include "sim/wdk/locked.h"
#include "sim/wdk/verifier.h"

namespace sim::pool {
namespace {

constexpr size_t kGuardBytes = 16;
constexpr uint8_t kGuardPattern = 0xFD;
constexpr uint8_t kFreshPattern = 0xA5;
constexpr uint8_t kFreedPattern = 0xDD;

struct Block {
    ULONG tag;
    size_t size;
    const char* file;
    int line;
    uint64_t serial;
};

struct Pool {
    std::mutex mutex;
    std::map<void*, Block> live;     // ordered, to find the block holding an address
    std::unordered_set<void*> freed; // addresses freed and not handed out again
    std::unordered_map<ULONG, TagCounters> counters;
    uint64_t nextSerial = 1;
    uint64_t failAtSerial = 0; // 0: none
    std::unordered_set<ULONG> failingTags;
    AllocationFilter filter = nullptr;
    uint64_t filterMatches = 0;
    uint64_t filterFailAt = 0; // 0: none
    AllocationRequest lastFailure{};
};

// 16-byte alignment, as the platform gives on x64. The Windows C runtime has no aligned_alloc;
// its aligned blocks go back through _aligned_free.
void* AlignedAllocate(size_t bytes) {
    const size_t rounded = (bytes + 15) & ~size_t{15};
#if defined(_WIN32)
    return _aligned_malloc(rounded, 16);
#else
    return std::aligned_alloc(16, rounded);
#endif
}

void AlignedFree(void* block) {
#if defined(_WIN32)
    _aligned_free(block);
#else
    std::free(block);
#endif
}

Pool& ThePool() {
    static Pool* pool = new Pool; // never destroyed: threads may free during static teardown
    return *pool;
}

PVOID Allocate(POOL_TYPE type, SIZE_T bytes, ULONG tag, const char* file, int line) {
    if (KeGetCurrentIrql() > ((type & 1) ? APC_LEVEL : DISPATCH_LEVEL)) {
        VerifierFail("%s pool allocation of %zu bytes with tag '%s' at %s:%d at %s",
                     (type & 1) ? "paged" : "non-paged", static_cast<size_t>(bytes),
                     TagText(tag).c_str(), BaseName(file), line, IrqlName(KeGetCurrentIrql()));
    }
    Pool& pool = ThePool();
    uint64_t serial;
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        serial = pool.nextSerial++;
        bool fail = serial == pool.failAtSerial || pool.failingTags.count(tag) != 0;
        if (pool.filter != nullptr && pool.filter(AllocationRequest{tag, bytes, file, line})) {
            fail = fail || ++pool.filterMatches == pool.filterFailAt;
        }
        if (fail) {
            if (serial == pool.failAtSerial) {
                pool.failAtSerial = 0;
            }
            ++pool.counters[tag].failures;
            pool.lastFailure = AllocationRequest{tag, bytes, file, line};
            return nullptr;
        }
    }
    void* block = AlignedAllocate(bytes + kGuardBytes);
    if (block == nullptr) {
        return nullptr;
    }
    std::memset(block, kFreshPattern, bytes);
    std::memset(static_cast<uint8_t*>(block) + bytes, kGuardPattern, kGuardBytes);

    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.freed.erase(block);
    pool.live[block] = Block{tag, bytes, file, line, serial};
    TagCounters& counters = pool.counters[tag];
    ++counters.allocations;
    ++counters.liveBlocks;
    counters.liveBytes += bytes;
    return block;
}

void Free(PVOID address, bool checkTag, ULONG tag, const char* file, int line) {
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        VerifierFail("pool block %p freed at %s:%d at %s", address, BaseName(file), line,
                     IrqlName(KeGetCurrentIrql()));
    }
    Pool& pool = ThePool();
    Block block;
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        auto it = pool.live.find(address);
        if (it == pool.live.end()) {
            const bool doubleFree = pool.freed.count(address) != 0;
            VerifierFail("%s of %p at %s:%d: %s", checkTag ? "ExFreePoolWithTag" : "ExFreePool",
                         address, BaseName(file), line,
                         address == nullptr ? "null pointer"
                         : doubleFree       ? "block already freed (double free)"
                                            : "memory the pool never gave out");
            return;
        }
        block = it->second;
        if (checkTag && tag != block.tag) {
            VerifierFail("ExFreePoolWithTag at %s:%d: block of %zu bytes allocated at %s:%d with "
                         "tag '%s' freed with tag '%s'",
                         BaseName(file), line, block.size, BaseName(block.file), block.line,
                         TagText(block.tag).c_str(), TagText(tag).c_str());
        }
        pool.live.erase(it);
        pool.freed.insert(address);
        TagCounters& counters = pool.counters[block.tag];
        ++counters.frees;
        --counters.liveBlocks;
        counters.liveBytes -= block.size;
    }
    const uint8_t* guard = static_cast<const uint8_t*>(address) + block.size;
    for (size_t i = 0; i < kGuardBytes; ++i) {
        if (guard[i] != kGuardPattern) {
            VerifierFail("pool corruption: block of %zu bytes with tag '%s' allocated at %s:%d was "
                         "written past its end (freed at %s:%d)",
                         block.size, TagText(block.tag).c_str(), BaseName(block.file), block.line,
                         BaseName(file), line);
            break;
        }
    }
    sim::lock_order::ForgetRange(address, block.size);
    std::memset(address, kFreedPattern, block.size);
    AlignedFree(address);
}

} // namespace

std::string TagText(ULONG tag) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

TagCounters Counters(ULONG tag) {
    Locked pool(ThePool());
    auto it = pool->counters.find(tag);
    return it == pool->counters.end() ? TagCounters{} : it->second;
}

uint64_t LiveBlocks() {
    return Locked(ThePool())->live.size();
}

bool ContainsRange(const void* address, size_t bytes) {
    Locked pool(ThePool());
    auto it = pool->live.upper_bound(const_cast<void*>(address));
    if (it == pool->live.begin()) {
        return false;
    }
    --it;
    const auto start = reinterpret_cast<uintptr_t>(it->first);
    const auto begin = reinterpret_cast<uintptr_t>(address);
    return begin >= start && begin + bytes <= start + it->second.size;
}

uint64_t Mark() {
    return Locked(ThePool())->nextSerial;
}

size_t ReportLeaksSince(uint64_t mark, const char* context) {
    Pool& pool = ThePool();
    std::vector<std::pair<const void*, Block>> leaks;
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        for (const auto& [address, block] : pool.live) {
            if (block.serial >= mark) {
                leaks.emplace_back(address, block);
            }
        }
    }
    // Reported without the lock: a handler may allocate or free.
    for (const auto& [address, block] : leaks) {
        VerifierFail("%s: leaked pool block %p of %zu bytes with tag '%s' allocated at %s:%d",
                     context, address, block.size, TagText(block.tag).c_str(), BaseName(block.file),
                     block.line);
    }
    return leaks.size();
}

void FailNthAllocation(uint64_t n) {
    Locked pool(ThePool());
    pool->failAtSerial = n == 0 ? 0 : pool->nextSerial + n - 1;
}

void FailAllocationsWithTag(ULONG tag) {
    Locked(ThePool())->failingTags.insert(tag);
}

void FailNthAllocationWhere(AllocationFilter filter, uint64_t n) {
    Locked pool(ThePool());
    pool->filter = filter;
    pool->filterMatches = 0;
    pool->filterFailAt = n;
    pool->lastFailure = AllocationRequest{};
}

AllocationRequest LastInjectedFailure() {
    return Locked(ThePool())->lastFailure;
}

uint64_t AllocationsWhere() {
    return Locked(ThePool())->filterMatches;
}

void ClearInjectedFailures() {
    Locked pool(ThePool());
    pool->failAtSerial = 0;
    pool->failingTags.clear();
    pool->filter = nullptr;
    pool->filterMatches = 0;
    pool->filterFailAt = 0;
    pool->lastFailure = AllocationRequest{};
}

} // namespace sim::pool

PVOID ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T bytes, ULONG tag, const char* file, int line) {
    return sim::pool::Allocate(type, bytes, tag, file, line);
}

PVOID ExAllocatePool(POOL_TYPE type, SIZE_T bytes, const char* file, int line) {
    return sim::pool::Allocate(type, bytes, sim::pool::kUntaggedTag, file, line);
}

VOID ExFreePoolWithTag(PVOID block, ULONG tag, const char* file, int line) {
    sim::pool::Free(block, true, tag, file, line);
}

VOID ExFreePool(PVOID block, const char* file, int line) {
    sim::pool::Free(block, false, 0, file, line);
}
