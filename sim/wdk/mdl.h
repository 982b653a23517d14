// Memory descriptor lists. In this platform an MDL can describe non-paged pool only (built with
// MmBuildMdlForNonPagedPool) or a part of another MDL (IoBuildPartialMdl); describing anything
// else, a partial MDL outside its source, or mapping an MDL that describes no resident pages
// are verifier failures.
#pragma once

#include "sim/wdk/irp.h"

#define PAGE_SIZE 0x1000
#define PAGE_SHIFT 12

typedef struct _MDL {
    struct _MDL* Next;
    CSHORT Size;
    CSHORT MdlFlags;
    struct _EPROCESS* Process;
    PVOID MappedSystemVa;
    PVOID StartVa;
    ULONG ByteCount;
    ULONG ByteOffset;
} MDL, *PMDL;
static_assert(sizeof(MDL) == 48, "MDL layout");

#define MDL_MAPPED_TO_SYSTEM_VA 0x0001
#define MDL_PAGES_LOCKED 0x0002
#define MDL_SOURCE_IS_NONPAGED_POOL 0x0004
#define MDL_ALLOCATED_FIXED_SIZE 0x0008
#define MDL_PARTIAL 0x0010
#define MDL_PARTIAL_HAS_BEEN_MAPPED 0x0020

typedef enum _MM_PAGE_PRIORITY {
    LowPagePriority = 0,
    NormalPagePriority = 16,
    HighPagePriority = 32,
} MM_PAGE_PRIORITY;

#define BYTE_OFFSET(va) ((ULONG)((ULONG_PTR)(va) & (PAGE_SIZE - 1)))
#define PAGE_ALIGN(va) ((PVOID)((ULONG_PTR)(va) & ~(ULONG_PTR)(PAGE_SIZE - 1)))
#define ADDRESS_AND_SIZE_TO_SPAN_PAGES(va, size)                                                   \
    ((ULONG)((((ULONG_PTR)(va) & (PAGE_SIZE - 1)) + (size) + (PAGE_SIZE - 1)) >> PAGE_SHIFT))

inline PVOID MmGetMdlVirtualAddress(PMDL mdl) {
    return static_cast<PCHAR>(mdl->StartVa) + mdl->ByteOffset;
}
inline ULONG MmGetMdlByteCount(PMDL mdl) {
    return mdl->ByteCount;
}
inline ULONG MmGetMdlByteOffset(PMDL mdl) {
    return mdl->ByteOffset;
}
inline PPFN_NUMBER MmGetMdlPfnArray(PMDL mdl) {
    return reinterpret_cast<PPFN_NUMBER>(mdl + 1);
}

// Allocates an MDL large enough for the range; with an IRP it becomes the IRP's MdlAddress (or,
// as a secondary buffer, the last of its chain). Null when the pool is exhausted.
PMDL IoAllocateMdl(PVOID virtualAddress, ULONG length, BOOLEAN secondaryBuffer, BOOLEAN chargeQuota,
                   PIRP irp, const char* file = __builtin_FILE(), int line = __builtin_LINE());
VOID IoFreeMdl(PMDL mdl);
VOID MmBuildMdlForNonPagedPool(PMDL mdl);
// Describes part of `sourceMdl` (length 0: to its end) in `targetMdl`.
VOID IoBuildPartialMdl(PMDL sourceMdl, PMDL targetMdl, PVOID virtualAddress, ULONG length);
PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, ULONG priority);

namespace sim::pool {
constexpr ULONG kMdlTag = 0x206C644D; // "Mdl "
} // namespace sim::pool
