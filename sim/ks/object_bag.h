// Object bags: what a kernel streaming object owns on behalf of its driver. Each item is
// released with its callback (ExFreePool when none was given) when the owner is destroyed.
// Adding an item that the bag already holds, removing one it does not hold, and using a bag
// that does not exist are verifier failures. Each entry costs a small pool block, so the
// low-resources simulation makes KsAddItemToObjectBag fail as it can on the platform.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "sim/ks/ks.h"
#include "sim/wdk/verifier.h"

namespace sim::ks {

class Node;

// The pool tag of bag entries, and of the class driver's other allocations on a driver's
// behalf; failing it makes bag insertions and factory creation fail.
constexpr ULONG kClassDriverTag = sim::pool::Tag("KSob");

class ObjectBag {
public:
    // `owner` names the object in messages ("device", "filter", "pin 0").
    explicit ObjectBag(std::string owner);
    // Frees what is left.
    ~ObjectBag();
    ObjectBag(const ObjectBag&) = delete;
    ObjectBag& operator=(const ObjectBag&) = delete;

    KSOBJECT_BAG Handle() { return this; }
    // The bag behind a handle, or null (reported) when it is no live bag.
    static ObjectBag* FromHandle(KSOBJECT_BAG handle, const char* call);

    NTSTATUS Add(PVOID item, PFNKSFREE free, const char* call);
    // Adds a block that _KsEdit allocated; it is freed with its tag.
    NTSTATUS AddEdit(PVOID item, ULONG size, ULONG tag);
    // Removes the item; frees it when asked. Returns how many references went (0 or 1).
    ULONG Remove(PVOID item, bool free, const char* call);
    bool Contains(const void* item) const;
    // The size of an edit block held by the bag, or 0 when the item is none.
    ULONG EditSize(const void* item) const;
    // Releases every item, the latest first.
    void FreeAll();

    const std::string& owner() const { return owner_; }
    // The object that owns the bag, for checks that depend on it (_KsEdit of a pin's tables).
    void SetNode(Node* node) { node_ = node; }
    Node* node() const { return node_; }

private:
    struct Entry {
        PVOID item;
        PFNKSFREE free;
        bool edit;
        ULONG editSize;
        ULONG editTag;
        PVOID cost; // the pool block that stands for the platform's bag entry
    };
    static void Release(const Entry& entry);

    const std::string owner_;
    Node* node_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

} // namespace sim::ks
