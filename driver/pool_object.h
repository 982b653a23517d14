// Base of the classes whose objects live in non-paged pool under one tag. `new (NonPagedPool)
// T(...)` returns null when the pool is exhausted (nothing throws in kernel code), and `delete`
// frees with the same tag, also through a base pointer with a virtual destructor.
#pragma once

#include <stddef.h>

#include "driver/wdk.h"

namespace zyn {

template <ULONG Tag> class PoolObject {
public:
    static void* operator new(size_t size, POOL_TYPE pool) noexcept {
        return ExAllocatePoolWithTag(pool, size, Tag);
    }
    static void operator delete(void* block) noexcept {
        if (block != nullptr) {
            ExFreePoolWithTag(block, Tag);
        }
    }
    // Used by the compiler only when a constructor exits by exception, which kernel code never
    // does; declared so that the placement form above has its matching deallocation.
    static void operator delete(void* block, POOL_TYPE) noexcept { operator delete(block); }

    static constexpr ULONG kPoolTag = Tag;
};

} // namespace zyn
