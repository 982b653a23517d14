#include "sim/wdk/mdl.h"

#include "sim/wdk/pool.h"
#include "sim/wdk/verifier.h"

namespace {
// The largest range one MDL can describe on the platform (x64): 4 GiB less a page.
constexpr ULONGLONG kMaximumMdlLength = 0xFFFFFFFFull - PAGE_SIZE + 1;

PFN_NUMBER PageNumber(ULONG_PTR address) {
    return address >> PAGE_SHIFT;
}
} // namespace

PMDL IoAllocateMdl(PVOID virtualAddress, ULONG length, BOOLEAN secondaryBuffer, BOOLEAN, PIRP irp,
                   const char* file, int line) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "IoAllocateMdl");
    if (length == 0 || length > kMaximumMdlLength) {
        return nullptr;
    }
    const ULONG pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(virtualAddress, length);
    const size_t size = sizeof(MDL) + pages * sizeof(PFN_NUMBER);
    auto* mdl = static_cast<PMDL>(
        ExAllocatePoolWithTag(NonPagedPool, size, sim::pool::kMdlTag, file, line));
    if (mdl == nullptr) {
        return nullptr;
    }
    std::memset(mdl, 0, size);
    mdl->Size = static_cast<CSHORT>(size);
    mdl->StartVa = PAGE_ALIGN(virtualAddress);
    mdl->ByteOffset = BYTE_OFFSET(virtualAddress);
    mdl->ByteCount = length;
    if (irp != nullptr) {
        if (!secondaryBuffer || irp->MdlAddress == nullptr) {
            irp->MdlAddress = mdl;
        } else {
            PMDL last = irp->MdlAddress;
            while (last->Next != nullptr) {
                last = last->Next;
            }
            last->Next = mdl;
        }
    }
    return mdl;
}

VOID IoFreeMdl(PMDL mdl) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "IoFreeMdl");
    ExFreePoolWithTag(mdl, sim::pool::kMdlTag);
}

VOID MmBuildMdlForNonPagedPool(PMDL mdl) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "MmBuildMdlForNonPagedPool");
    PVOID start = MmGetMdlVirtualAddress(mdl);
    if (!sim::pool::ContainsRange(start, mdl->ByteCount)) {
        sim::VerifierFail("MmBuildMdlForNonPagedPool of %u bytes at %p, which is not inside one "
                          "block of non-paged pool",
                          mdl->ByteCount, start);
    }
    const ULONG pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(start, mdl->ByteCount);
    for (ULONG i = 0; i < pages; ++i) {
        MmGetMdlPfnArray(mdl)[i] = PageNumber(reinterpret_cast<ULONG_PTR>(mdl->StartVa)) + i;
    }
    mdl->MappedSystemVa = start;
    mdl->MdlFlags |= MDL_SOURCE_IS_NONPAGED_POOL;
}

VOID IoBuildPartialMdl(PMDL sourceMdl, PMDL targetMdl, PVOID virtualAddress, ULONG length) {
    const auto sourceStart = reinterpret_cast<ULONG_PTR>(MmGetMdlVirtualAddress(sourceMdl));
    const ULONG_PTR sourceEnd = sourceStart + sourceMdl->ByteCount;
    const auto start = reinterpret_cast<ULONG_PTR>(virtualAddress);
    if (length == 0 && start >= sourceStart && start <= sourceEnd) {
        length = static_cast<ULONG>(sourceEnd - start);
    }
    if (start < sourceStart || start + length > sourceEnd || length == 0) {
        sim::VerifierFail("IoBuildPartialMdl of %u bytes at %p outside the source MDL's %u bytes "
                          "at %p",
                          length, virtualAddress, sourceMdl->ByteCount,
                          reinterpret_cast<void*>(sourceStart));
        return;
    }
    if ((sourceMdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL | MDL_PARTIAL)) ==
        0) {
        sim::VerifierFail("IoBuildPartialMdl from an MDL that describes no resident pages (build "
                          "it with MmBuildMdlForNonPagedPool first)");
    }
    const ULONG pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(virtualAddress, length);
    const size_t room = (targetMdl->Size - sizeof(MDL)) / sizeof(PFN_NUMBER);
    if (targetMdl->Size < static_cast<CSHORT>(sizeof(MDL)) || pages > room) {
        sim::VerifierFail("IoBuildPartialMdl: the target MDL has room for %zu pages, the range "
                          "spans %u",
                          room, pages);
        return;
    }
    targetMdl->StartVa = PAGE_ALIGN(virtualAddress);
    targetMdl->ByteOffset = BYTE_OFFSET(virtualAddress);
    targetMdl->ByteCount = length;
    targetMdl->Process = sourceMdl->Process;
    targetMdl->MdlFlags = static_cast<CSHORT>(
        (targetMdl->MdlFlags & MDL_ALLOCATED_FIXED_SIZE) | MDL_PARTIAL |
        (sourceMdl->MdlFlags & (MDL_SOURCE_IS_NONPAGED_POOL | MDL_PAGES_LOCKED)));
    const size_t firstPage = (reinterpret_cast<ULONG_PTR>(targetMdl->StartVa) -
                              reinterpret_cast<ULONG_PTR>(sourceMdl->StartVa)) >>
                             PAGE_SHIFT;
    for (ULONG i = 0; i < pages; ++i) {
        MmGetMdlPfnArray(targetMdl)[i] = MmGetMdlPfnArray(sourceMdl)[firstPage + i];
    }
    if (sourceMdl->MdlFlags & (MDL_SOURCE_IS_NONPAGED_POOL | MDL_MAPPED_TO_SYSTEM_VA)) {
        targetMdl->MappedSystemVa =
            static_cast<PCHAR>(sourceMdl->MappedSystemVa) + (start - sourceStart);
        if (sourceMdl->MdlFlags & MDL_MAPPED_TO_SYSTEM_VA) {
            targetMdl->MdlFlags |= MDL_PARTIAL_HAS_BEEN_MAPPED | MDL_MAPPED_TO_SYSTEM_VA;
        }
    } else {
        targetMdl->MappedSystemVa = nullptr;
    }
}

PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, ULONG) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "MmGetSystemAddressForMdlSafe");
    if (mdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL)) {
        return mdl->MappedSystemVa;
    }
    if (mdl->MdlFlags & MDL_PAGES_LOCKED) {
        mdl->MappedSystemVa = MmGetMdlVirtualAddress(mdl);
        mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
        return mdl->MappedSystemVa;
    }
    sim::VerifierFail("MmGetSystemAddressForMdlSafe of an MDL that describes no resident pages");
    return nullptr;
}
