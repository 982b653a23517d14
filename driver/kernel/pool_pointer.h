// Owns one block of non-paged pool under a tag and frees it with that tag when it goes out of
// scope, so that no return path of a function can leak it. release() hands the block over to
// whoever keeps it.
#pragma once

#include <stddef.h>

#include "driver/kernel/call_site.h"
#include "driver/wdk.h"

namespace zyn {

template <typename T, ULONG Tag> class PoolPointer {
public:
    PoolPointer() = default;
    explicit PoolPointer(T* block) : block_(block) {}
    ~PoolPointer() { reset(); }
    PoolPointer(const PoolPointer&) = delete;
    PoolPointer& operator=(const PoolPointer&) = delete;
    PoolPointer(PoolPointer&& other) : block_(other.release()) {}
    PoolPointer& operator=(PoolPointer&& other) {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    // A zeroed block of `bytes` bytes; empty when the pool has none.
    static PoolPointer Zeroed(SIZE_T bytes, CallSite site = CallSite::Here()) {
#if defined(ZYN_SIMULATED)
        PVOID block = ExAllocatePoolWithTag(NonPagedPool, bytes, Tag, site.file, site.line);
#else
        (void)site;
        PVOID block = ExAllocatePoolWithTag(NonPagedPool, bytes, Tag);
#endif
        if (block != nullptr) {
            RtlZeroMemory(block, bytes);
        }
        return PoolPointer(static_cast<T*>(block));
    }

    T* get() const {
        return block_;
    }
    T* operator->() const {
        return block_;
    }
    T& operator*() const {
        return *block_;
    }
    T& operator[](size_t index) const {
        return block_[index];
    }
    explicit operator bool() const {
        return block_ != nullptr;
    }

    T* release() {
        T* block = block_;
        block_ = nullptr;
        return block;
    }

    void reset(T* block = nullptr) {
        if (block_ != nullptr) {
            ExFreePoolWithTag(const_cast<void*>(static_cast<const volatile void*>(block_)), Tag);
        }
        block_ = block;
    }

    static constexpr ULONG kTag = Tag;

private:
    T* block_ = nullptr;
};

} // namespace zyn
