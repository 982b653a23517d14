#include "sim/ks/object_bag.h"

#include <algorithm>
#include <unordered_set>

#include "sim/ks/class_driver.h"

namespace sim::ks {
namespace {

std::mutex& BagsLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}
std::unordered_set<const ObjectBag*>& LiveBags() {
    static auto* bags = new std::unordered_set<const ObjectBag*>;
    return *bags;
}

constexpr size_t kEntryCost = 32;

} // namespace

ObjectBag::ObjectBag(std::string owner) : owner_(std::move(owner)) {
    std::lock_guard<std::mutex> lock(BagsLock());
    LiveBags().insert(this);
}

ObjectBag::~ObjectBag() {
    FreeAll();
    std::lock_guard<std::mutex> lock(BagsLock());
    LiveBags().erase(this);
}

ObjectBag* ObjectBag::FromHandle(KSOBJECT_BAG handle, const char* call) {
    auto* bag = static_cast<ObjectBag*>(handle);
    {
        std::lock_guard<std::mutex> lock(BagsLock());
        if (LiveBags().count(bag) != 0) {
            return bag;
        }
    }
    VerifierFail("%s with object bag %p, which belongs to no live kernel streaming object", call,
                 handle);
    return nullptr;
}

NTSTATUS ObjectBag::Add(PVOID item, PFNKSFREE free, const char* call) {
    if (item == nullptr) {
        VerifierFail("%s: null item for the object bag of the %s", call, owner_.c_str());
        return STATUS_INVALID_PARAMETER;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool present = std::any_of(entries_.begin(), entries_.end(),
                                         [item](const Entry& e) { return e.item == item; });
        if (present) {
            VerifierFail("%s: item %p is already in the object bag of the %s; it would be "
                         "released twice",
                         call, item, owner_.c_str());
            return STATUS_INVALID_PARAMETER;
        }
    }
    PVOID cost = ExAllocatePoolWithTag(NonPagedPool, kEntryCost, kClassDriverTag);
    if (cost == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(Entry{item, free, false, 0, 0, cost});
    return STATUS_SUCCESS;
}

NTSTATUS ObjectBag::AddEdit(PVOID item, ULONG size, ULONG tag) {
    PVOID cost = ExAllocatePoolWithTag(NonPagedPool, kEntryCost, kClassDriverTag);
    if (cost == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(Entry{item, nullptr, true, size, tag, cost});
    return STATUS_SUCCESS;
}

void ObjectBag::Release(const Entry& entry) {
    if (entry.edit) {
        ExFreePoolWithTag(entry.item, entry.editTag);
    } else if (entry.free != nullptr) {
        DriverCall call("an object bag's release callback");
        entry.free(entry.item);
    } else {
        ExFreePool(entry.item);
    }
    ExFreePoolWithTag(entry.cost, kClassDriverTag);
}

ULONG ObjectBag::Remove(PVOID item, bool free, const char* call) {
    Entry entry;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [item](const Entry& e) { return e.item == item; });
        if (it == entries_.end()) {
            VerifierFail("%s: item %p is not in the object bag of the %s", call, item,
                         owner_.c_str());
            return 0;
        }
        entry = *it;
        entries_.erase(it);
    }
    if (free) {
        Release(entry);
    } else {
        ExFreePoolWithTag(entry.cost, kClassDriverTag);
    }
    return 1;
}

bool ObjectBag::Contains(const void* item) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(entries_.begin(), entries_.end(),
                       [item](const Entry& e) { return e.item == item; });
}

ULONG ObjectBag::EditSize(const void* item) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Entry& e : entries_) {
        if (e.item == item && e.edit) {
            return e.editSize;
        }
    }
    return 0;
}

void ObjectBag::FreeAll() {
    for (;;) {
        Entry entry;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (entries_.empty()) {
                return;
            }
            entry = entries_.back();
            entries_.pop_back();
        }
        // Without the lock: a release callback may use other bags, or this one.
        Release(entry);
    }
}

} // namespace sim::ks

using sim::ks::ObjectBag;

NTSTATUS KsAddItemToObjectBag(KSOBJECT_BAG ObjectBag, PVOID Item, PFNKSFREE Free) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "KsAddItemToObjectBag");
    auto* bag = ObjectBag::FromHandle(ObjectBag, "KsAddItemToObjectBag");
    return bag != nullptr ? bag->Add(Item, Free, "KsAddItemToObjectBag") : STATUS_INVALID_PARAMETER;
}

ULONG KsRemoveItemFromObjectBag(KSOBJECT_BAG ObjectBag, PVOID Item, BOOLEAN Free) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "KsRemoveItemFromObjectBag");
    auto* bag = ObjectBag::FromHandle(ObjectBag, "KsRemoveItemFromObjectBag");
    return bag != nullptr ? bag->Remove(Item, Free != FALSE, "KsRemoveItemFromObjectBag") : 0;
}
