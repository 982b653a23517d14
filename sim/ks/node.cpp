// Object lookup, request packets and the checks around every call into a driver.
#include <unordered_map>
#include <unordered_set>

#include "sim/ks/class_driver.h"
#include "sim/wdk/float_state.h"

namespace sim::ks {
namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<const void*, Node*> published;
    std::unordered_set<const Node*> live;
};

Registry& TheRegistry() {
    static auto* registry = new Registry;
    return *registry;
}

} // namespace

Node::Node(Kind kind, Device* device, Node* parent)
    : kind_(kind), device_(device), parent_(parent) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.live.insert(this);
}

Node::~Node() {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.live.erase(this);
    if (published_ != nullptr) {
        registry.published.erase(published_);
    }
}

void Node::Publish(const void* object) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    published_ = object;
    registry.published[object] = this;
}

Node* Node::Find(const void* object) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.published.find(object);
    return it == registry.published.end() ? nullptr : it->second;
}

Node* Node::FromFileObject(PFILE_OBJECT file) {
    if (file == nullptr) {
        return nullptr;
    }
    auto* node = static_cast<Node*>(file->FsContext);
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.live.count(node) != 0 ? node : nullptr;
}

void Node::InitFileObject(FILE_OBJECT* file, PDEVICE_OBJECT device, FILE_OBJECT* related) {
    std::memset(file, 0, sizeof *file);
    file->Type = IO_TYPE_FILE;
    file->Size = sizeof(FILE_OBJECT);
    file->DeviceObject = device;
    file->FsContext = this;
    file->RelatedFileObject = related;
}

RequestIrp::RequestIrp(PDEVICE_OBJECT device, UCHAR major, UCHAR minor, PFILE_OBJECT file) {
    const CCHAR stackSize = device != nullptr && device->StackSize > 0 ? device->StackSize : 1;
    storage_.assign((IoSizeOfIrp(stackSize) + 7) / 8, 0);
    PIRP irp = get();
    irp->Type = IO_TYPE_IRP;
    irp->Size = IoSizeOfIrp(stackSize);
    irp->StackCount = stackSize;
    irp->CurrentLocation = stackSize;
    irp->RequestorMode = UserMode;
    irp->Tail.Overlay.CurrentStackLocation =
        reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stackSize - 1;
    irp->Tail.Overlay.Thread = KeGetCurrentThread();
    irp->Tail.Overlay.OriginalFileObject = file;
    PIO_STACK_LOCATION location = stack();
    location->MajorFunction = major;
    location->MinorFunction = minor;
    location->DeviceObject = device;
    location->FileObject = file;
}

DriverCall::DriverCall(const char* what)
    : what_(what), spinLocks_(sim::HeldSpinLocks()), mutexes_(sim::OwnedMutexes()),
      regions_(sim::CriticalRegionDepth()) {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        VerifierFail("the class driver was asked to call %s at %s; kernel streaming calls it at "
                     "PASSIVE_LEVEL",
                     what_, IrqlName(KeGetCurrentIrql()));
    }
}

DriverCall::~DriverCall() {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        VerifierFail("%s returned at %s", what_, IrqlName(KeGetCurrentIrql()));
        KeLowerIrql(PASSIVE_LEVEL);
    }
    if (sim::HeldSpinLocks() != spinLocks_) {
        VerifierFail("%s returned holding %d spin lock(s)", what_,
                     sim::HeldSpinLocks() - spinLocks_);
    }
    if (sim::OwnedMutexes() != mutexes_) {
        VerifierFail("%s returned owning %d more mutex(es) than on entry (KsAcquireDevice without "
                     "KsReleaseDevice?)",
                     what_, sim::OwnedMutexes() - mutexes_);
    }
    const int regions = sim::CriticalRegionDepth() - regions_ - (sim::OwnedMutexes() - mutexes_);
    if (regions != 0) {
        VerifierFail("%s returned with its critical regions unbalanced by %d", what_, regions);
    }
}

MutexHold::MutexHold(KMUTEX& mutex, const char* file, int line) : mutex_(mutex) {
    KeWaitForSingleObject(&mutex_, Executive, KernelMode, FALSE, nullptr, file, line);
}

MutexHold::~MutexHold() {
    KeReleaseMutex(&mutex_, FALSE);
}

bool FormatMatchesRange(const KSDATAFORMAT& format, const KSDATARANGE& range) {
    auto matches = [](const GUID& rangeGuid, const GUID& formatGuid) {
        return rangeGuid == GUID_NULL || rangeGuid == formatGuid;
    };
    return matches(range.MajorFormat, format.MajorFormat) &&
           matches(range.SubFormat, format.SubFormat) && matches(range.Specifier, format.Specifier);
}

} // namespace sim::ks

using sim::ks::Device;
using sim::ks::Node;

PKSDEVICE KsGetDevice(PVOID Object) {
    Node* node = Node::Find(Object);
    if (node == nullptr) {
        sim::VerifierFail("KsGetDevice of %p, which is no kernel streaming device, filter "
                          "factory, filter or pin",
                          Object);
        return nullptr;
    }
    return node->device()->ks();
}

PVOID KsGetParent(PVOID Object) {
    Node* node = Node::Find(Object);
    if (node == nullptr) {
        sim::VerifierFail("KsGetParent of %p, which is no kernel streaming object", Object);
        return nullptr;
    }
    return node->parent() != nullptr ? node->parent()->PublicObject() : nullptr;
}

PKSFILTER KsGetFilterFromIrp(PIRP Irp) {
    Node* node = Node::FromFileObject(IoGetCurrentIrpStackLocation(Irp)->FileObject);
    if (node == nullptr) {
        return nullptr;
    }
    if (node->kind() == Node::Kind::Pin) {
        node = node->parent();
    }
    return node->kind() == Node::Kind::Filter ? static_cast<PKSFILTER>(node->PublicObject())
                                              : nullptr;
}

PKSPIN KsGetPinFromIrp(PIRP Irp) {
    Node* node = Node::FromFileObject(IoGetCurrentIrpStackLocation(Irp)->FileObject);
    return node != nullptr && node->kind() == Node::Kind::Pin
               ? static_cast<PKSPIN>(node->PublicObject())
               : nullptr;
}
