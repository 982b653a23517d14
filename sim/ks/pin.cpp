// Pins: creation with the data format, state changes one step at a time, the client's frame
// queue with the leading-edge stream pointer, processing on a class-driver thread, the
// reference clock, and _KsEdit of a pin's tables.
#include "sim/ks/class_driver.h"
#include "sim/ks/property_routing.h"

#include <iterator>

namespace sim::ks {
namespace {

const char* StateName(KSSTATE state) {
    constexpr const char* kNames[] = {"STOP", "ACQUIRE", "PAUSE", "RUN"};
    const auto index = static_cast<size_t>(state);
    return index < std::size(kNames) ? kNames[index] : "?";
}

Pin* PinFromIrp(PIRP irp) {
    Node* node = Node::FromFileObject(IoGetCurrentIrpStackLocation(irp)->FileObject);
    return node != nullptr && node->kind() == Node::Kind::Pin ? static_cast<Pin*>(node) : nullptr;
}

NTSTATUS GetState(PIRP irp, PKSIDENTIFIER, PVOID data) {
    Pin* pin = PinFromIrp(irp);
    if (pin == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const KSSTATE state = pin->State();
    std::memcpy(data, &state, sizeof state);
    irp->IoStatus.Information = sizeof state;
    return STATUS_SUCCESS;
}

NTSTATUS SetState(PIRP irp, PKSIDENTIFIER, PVOID data) {
    Pin* pin = PinFromIrp(irp);
    if (pin == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    KSSTATE state;
    std::memcpy(&state, data, sizeof state);
    return pin->SetState(state);
}

NTSTATUS GetDataFormat(PIRP irp, PKSIDENTIFIER, PVOID data) {
    Pin* pin = PinFromIrp(irp);
    if (pin == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const KSDATAFORMAT* format = pin->ks()->ConnectionFormat;
    if (const NTSTATUS room = CheckAnswerRoom(irp, format->FormatSize); room != STATUS_SUCCESS) {
        return room;
    }
    std::memcpy(data, format, format->FormatSize);
    irp->IoStatus.Information = format->FormatSize;
    return STATUS_SUCCESS;
}

NTSTATUS SetDataFormat(PIRP irp, PKSIDENTIFIER, PVOID data) {
    Pin* pin = PinFromIrp(irp);
    if (pin == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    return pin->SetFormat(static_cast<const KSDATAFORMAT*>(data), OutputLength(irp));
}

NTSTATUS GetFramingEx(PIRP irp, PKSIDENTIFIER, PVOID data) {
    Pin* pin = PinFromIrp(irp);
    if (pin == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const KSALLOCATOR_FRAMING_EX* framing = pin->ks()->Descriptor->AllocatorFraming;
    if (framing == nullptr) {
        return STATUS_NOT_FOUND;
    }
    const ULONG size = static_cast<ULONG>(offsetof(KSALLOCATOR_FRAMING_EX, FramingItem) +
                                          framing->CountItems * sizeof(KS_FRAMING_ITEM));
    if (const NTSTATUS room = CheckAnswerRoom(irp, size); room != STATUS_SUCCESS) {
        return room;
    }
    std::memcpy(data, framing, size);
    irp->IoStatus.Information = size;
    return STATUS_SUCCESS;
}

const KSPROPERTY_ITEM kConnectionItems[] = {
    DEFINE_KSPROPERTY_ITEM(KSPROPERTY_CONNECTION_STATE, GetState, sizeof(KSPROPERTY),
                           sizeof(KSSTATE), SetState, nullptr, 0, nullptr, nullptr, 0),
    DEFINE_KSPROPERTY_ITEM(KSPROPERTY_CONNECTION_DATAFORMAT, GetDataFormat, sizeof(KSPROPERTY), 0,
                           SetDataFormat, nullptr, 0, nullptr, nullptr, 0),
    DEFINE_KSPROPERTY_ITEM(KSPROPERTY_CONNECTION_ALLOCATORFRAMING_EX, GetFramingEx,
                           sizeof(KSPROPERTY), 0, nullptr, nullptr, 0, nullptr, nullptr, 0),
};

const KSPROPERTY_SET kPinSets[] = {
    DEFINE_KSPROPERTY_SET(&KSPROPSETID_Connection, SIZEOF_ARRAY(kConnectionItems), kConnectionItems,
                          0, nullptr),
};

const KSAUTOMATION_TABLE kPinClassTable = {
    DEFINE_KSAUTOMATION_PROPERTIES(kPinSets),
    DEFINE_KSAUTOMATION_METHODS_NULL,
    DEFINE_KSAUTOMATION_EVENTS_NULL,
};

} // namespace

Pin::Pin(Filter& filter, ULONG pinId, const KSPIN_CONNECT& connect, const KSDATAFORMAT* format,
         PinOptions options)
    : Node(Kind::Pin, filter.device(), &filter), filter_(filter),
      bag_("pin " + std::to_string(pinId)), options_(std::move(options)) {
    KeInitializeMutex(&processingMutex_, 0);
    sim::lock_order::Name(&processingMutex_, "processing mutex of a pin");
    bag_.SetNode(this);
    InitFileObject(&file_, filter.deviceObject(), filter.fileObject());
    format_.assign((format->FormatSize + 7) / 8, 0);
    std::memcpy(format_.data(), format, format->FormatSize);

    const KSPIN_DESCRIPTOR_EX* descriptor = filter.PinDescriptor(pinId);
    ks_.Descriptor = descriptor;
    ks_.Bag = bag_.Handle();
    ks_.Context = filter.ks()->Context;
    ks_.Id = pinId;
    ks_.Communication = descriptor->PinDescriptor.Communication;
    ks_.ConnectionIsExternal = TRUE;
    ks_.ConnectionInterface = connect.Interface;
    ks_.ConnectionMedium = connect.Medium;
    ks_.ConnectionPriority = connect.Priority;
    ks_.ConnectionFormat = reinterpret_cast<PKSDATAFORMAT>(format_.data());
    ks_.AttributeList = nullptr;
    ks_.StreamHeaderSize = 0;
    ks_.DataFlow = descriptor->PinDescriptor.DataFlow;
    ks_.DeviceState = KSSTATE_STOP;
    ks_.ResetState = KSRESET_END;
    ks_.ClientState = KSSTATE_STOP;
    if (options_.clock != nullptr) {
        clockReference_ =
            std::make_unique<PinClockReference>(options_.clock, "pin " + std::to_string(pinId));
    }
    leadingEdge_.Pin = &ks_;
    Publish(&ks_);
}

Pin::~Pin() {
    StopWorker();
    bag_.FreeAll();
    sim::lock_order::ForgetRange(&processingMutex_, sizeof processingMutex_);
}

Pin* Pin::FromKs(PKSPIN pin, const char* call) {
    Node* node = Node::Find(pin);
    if (node == nullptr || node->kind() != Kind::Pin) {
        VerifierFail("%s with %p, which is no kernel streaming pin", call, static_cast<void*>(pin));
        return nullptr;
    }
    return static_cast<Pin*>(node);
}

Pin* Pin::FromStreamPointer(PKSSTREAM_POINTER pointer) {
    Node* node = pointer != nullptr ? Node::Find(pointer->Pin) : nullptr;
    if (node == nullptr || node->kind() != Kind::Pin ||
        &static_cast<Pin*>(node)->leadingEdge_ != pointer) {
        VerifierFail("stream pointer %p is no stream pointer of a live pin",
                     static_cast<void*>(pointer));
        return nullptr;
    }
    return static_cast<Pin*>(node);
}

const KSDATARANGE* Pin::MatchRange(const KSDATAFORMAT* format) const {
    const KSPIN_DESCRIPTOR& descriptor = ks_.Descriptor->PinDescriptor;
    for (ULONG i = 0; i < descriptor.DataRangesCount; ++i) {
        if (FormatMatchesRange(*format, *descriptor.DataRanges[i])) {
            return descriptor.DataRanges[i];
        }
    }
    return nullptr;
}

// The new format is the connection format while the driver looks at it; the old one, if any,
// is passed along. Each range the format meets is offered until the driver takes one.
NTSTATUS Pin::CallSetDataFormat(const KSDATAFORMAT* newFormat, PKSDATAFORMAT oldFormat) {
    const KSPIN_DESCRIPTOR& descriptor = ks_.Descriptor->PinDescriptor;
    const KSPIN_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    for (ULONG i = 0; i < descriptor.DataRangesCount; ++i) {
        const KSDATARANGE* range = descriptor.DataRanges[i];
        if (!FormatMatchesRange(*newFormat, *range)) {
            continue;
        }
        if (dispatch == nullptr || dispatch->SetDataFormat == nullptr) {
            return STATUS_SUCCESS;
        }
        NTSTATUS status;
        {
            DriverCall call("the pin's SetDataFormat dispatch");
            status = dispatch->SetDataFormat(&ks_, oldFormat, nullptr, range, nullptr);
        }
        if (status != STATUS_NO_MATCH) {
            return status;
        }
    }
    return STATUS_NO_MATCH;
}

NTSTATUS Pin::Create() {
    NTSTATUS status = CallSetDataFormat(ks_.ConnectionFormat, nullptr);
    if (!NT_SUCCESS(status)) {
        bag_.FreeAll();
        return status;
    }
    const KSPIN_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->Create != nullptr) {
        RequestIrp irp(filter_.deviceObject(), IRP_MJ_CREATE, 0, &file_);
        DriverCall call("the pin's Create dispatch");
        status = dispatch->Create(&ks_, irp.get());
    }
    if (!NT_SUCCESS(status)) {
        bag_.FreeAll();
        return status;
    }
    flags_ = ks_.Descriptor->Flags;
    created_ = true;
    worker_ = std::thread([this] { ProcessLoop(); });
    return STATUS_SUCCESS;
}

void Pin::Close() {
    if (ks_.DeviceState != KSSTATE_STOP) {
        SetState(KSSTATE_STOP);
        // A driver that refuses to go down is taken down anyway, as closing the handle does.
        while (ks_.DeviceState != KSSTATE_STOP) {
            const KSSTATE to = static_cast<KSSTATE>(ks_.DeviceState - 1);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                state_ = to;
            }
            ks_.DeviceState = to;
        }
        FlushQueue();
    }
    StopWorker();
    const KSPIN_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->Close != nullptr) {
        RequestIrp irp(filter_.deviceObject(), IRP_MJ_CLOSE, 0, &file_);
        DriverCall call("the pin's Close dispatch");
        dispatch->Close(&ks_, irp.get());
    }
    bag_.FreeAll();
    clockReference_.reset();
}

KSSTATE Pin::State() {
    return ks_.DeviceState;
}

NTSTATUS Pin::SetState(KSSTATE target) {
    if (target < KSSTATE_STOP || target > KSSTATE_RUN) {
        return STATUS_INVALID_PARAMETER;
    }
    MutexHold hold(filter_.control());
    ks_.ClientState = target;
    while (ks_.DeviceState != target) {
        const KSSTATE next =
            static_cast<KSSTATE>(ks_.DeviceState + (target > ks_.DeviceState ? 1 : -1));
        const NTSTATUS status = Step(next);
        if (!NT_SUCCESS(status)) {
            ks_.ClientState = ks_.DeviceState;
            return status;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS Pin::Step(KSSTATE to) {
    const KSSTATE from = ks_.DeviceState;
    const KSPIN_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->SetDeviceState != nullptr) {
        char what[96];
        std::snprintf(what, sizeof what, "the pin's SetDeviceState dispatch (%s to %s)",
                      StateName(from), StateName(to));
        NTSTATUS status;
        {
            DriverCall call(what);
            status = dispatch->SetDeviceState(&ks_, to, from);
        }
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    ks_.DeviceState = to;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = to;
        if (!(flags_ & KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING)) {
            RequestProcessingLocked();
        }
    }
    if (to == KSSTATE_STOP) {
        FlushQueue();
    }
    return STATUS_SUCCESS;
}

NTSTATUS Pin::SetFormat(const KSDATAFORMAT* format, ULONG length) {
    if (length < sizeof(KSDATAFORMAT) || format->FormatSize != length) {
        return STATUS_INVALID_BUFFER_SIZE;
    }
    if (flags_ & KSPIN_FLAG_FIXED_FORMAT) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    std::vector<uint64_t> previous = std::move(format_);
    format_.assign((length + 7) / 8, 0);
    std::memcpy(format_.data(), format, length);
    ks_.ConnectionFormat = reinterpret_cast<PKSDATAFORMAT>(format_.data());
    const NTSTATUS status =
        CallSetDataFormat(ks_.ConnectionFormat, reinterpret_cast<PKSDATAFORMAT>(previous.data()));
    if (!NT_SUCCESS(status)) {
        format_ = std::move(previous);
        ks_.ConnectionFormat = reinterpret_cast<PKSDATAFORMAT>(format_.data());
    }
    return status;
}

NTSTATUS Pin::Property(const void* property, ULONG propertyLength, void* data, ULONG dataLength,
                       ULONG_PTR* information) {
    MutexHold hold(filter_.control());
    return RouteProperty(ks_.Descriptor->AutomationTable, &kPinClassTable, nullptr,
                         filter_.deviceObject(), &file_, property, propertyLength, data, dataLength,
                         information);
}

NTSTATUS Pin::QueueFrame(PKSSTREAM_HEADER header) {
    if (header == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (header->Size < sizeof(KSSTREAM_HEADER) || header->Size % 8 != 0) {
        return STATUS_INVALID_BUFFER_SIZE;
    }
    if (header->FrameExtent > 0 && header->Data == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == KSSTATE_STOP) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    queue_.push_back(header);
    if (!(flags_ & KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING)) {
        RequestProcessingLocked();
    }
    return STATUS_PENDING;
}

size_t Pin::QueuedFrames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

bool Pin::ProcessingAllowedLocked() const {
    const bool stateAllows =
        state_ == KSSTATE_RUN ||
        (state_ == KSSTATE_PAUSE && !(flags_ & KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY));
    const bool framesAllow =
        !queue_.empty() || (flags_ & KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING);
    return stateAllows && framesAllow && created_ && !exiting_;
}

void Pin::RequestProcessingLocked() {
    if (ProcessingAllowedLocked()) {
        requested_ = true;
        wake_.notify_all();
    }
}

void Pin::AttemptProcessing() {
    std::lock_guard<std::mutex> lock(mutex_);
    RequestProcessingLocked();
}

// One thread per pin runs Process, so two calls for one pin never overlap. A call that returns
// STATUS_SUCCESS is followed by another while processing stays possible; STATUS_PENDING waits
// for the next frame or KsPinAttemptProcessing.
void Pin::ProcessLoop() {
    const KSPIN_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return exiting_ || requested_; });
        if (exiting_) {
            return;
        }
        requested_ = false;
        if (!ProcessingAllowedLocked() || dispatch == nullptr || dispatch->Process == nullptr) {
            // A request dropped because the pin left the state that allowed it: whoever waits
            // for the pin to be idle must hear of it too.
            wake_.notify_all();
            continue;
        }
        processing_ = true;
        processThread_ = std::this_thread::get_id();
        lock.unlock();
        NTSTATUS status;
        {
            MutexHold processing(processingMutex_);
            DriverCall call("the pin's Process dispatch");
            status = dispatch->Process(&ks_);
        }
        ++processCalls_;
        lock.lock();
        processing_ = false;
        processThread_ = std::thread::id();
        if (status == STATUS_SUCCESS) {
            RequestProcessingLocked();
        }
        wake_.notify_all();
    }
}

void Pin::WaitProcessingIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return exiting_ || (!processing_ && !requested_); });
}

void Pin::StopWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        exiting_ = true;
        wake_.notify_all();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
}

// Entering STOP returns every queued frame to the client, cancelled. A Process call still
// running is waited for first: it may hold the leading edge.
void Pin::FlushQueue() {
    std::deque<PKSSTREAM_HEADER> frames;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return !processing_; });
        requested_ = false;
        wake_.notify_all();
        if (leadingEdgeLocked_) {
            VerifierFail("pin %u entered STOP with its leading-edge stream pointer still locked",
                         ks_.Id);
            leadingEdgeLocked_ = false;
        }
        frames.swap(queue_);
    }
    for (PKSSTREAM_HEADER header : frames) {
        if (options_.onComplete) {
            options_.onComplete(header, STATUS_CANCELLED);
        }
    }
}

void Pin::CheckProcessContext(const char* call) {
    if (!(processing_ && processThread_ == std::this_thread::get_id())) {
        VerifierFail("%s for pin %u outside its Process dispatch", call, ks_.Id);
    }
}

PKSSTREAM_POINTER Pin::LeadingEdge(KSSTREAM_POINTER_STATE state) {
    std::lock_guard<std::mutex> lock(mutex_);
    CheckProcessContext("KsPinGetLeadingEdgeStreamPointer");
    if (queue_.empty()) {
        return nullptr;
    }
    PKSSTREAM_HEADER header = queue_.front();
    leadingEdge_.StreamHeader = header;
    const KSSTREAM_POINTER_OFFSET offset{static_cast<PUCHAR>(header->Data), header->FrameExtent,
                                         header->FrameExtent};
    if (ks_.DataFlow == KSPIN_DATAFLOW_OUT) {
        leadingEdge_.OffsetOut = offset;
        leadingEdge_.OffsetIn = KSSTREAM_POINTER_OFFSET{};
        leadingEdge_.Offset = &leadingEdge_.OffsetOut;
    } else {
        leadingEdge_.OffsetIn = offset;
        leadingEdge_.OffsetOut = KSSTREAM_POINTER_OFFSET{};
        leadingEdge_.Offset = &leadingEdge_.OffsetIn;
    }
    if (state == KSSTREAM_POINTER_STATE_LOCKED) {
        leadingEdgeLocked_ = true;
    }
    return &leadingEdge_;
}

void Pin::Unlock(PKSSTREAM_POINTER pointer, bool eject) {
    PKSSTREAM_HEADER header;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        CheckProcessContext("KsStreamPointerUnlock");
        if (!leadingEdgeLocked_ || pointer->StreamHeader == nullptr) {
            VerifierFail("KsStreamPointerUnlock of a stream pointer of pin %u that is not locked "
                         "(unlocked twice, or used after eject)",
                         ks_.Id);
            return;
        }
        leadingEdgeLocked_ = false;
        if (!eject) {
            return;
        }
        header = queue_.front();
        queue_.pop_front();
        leadingEdge_.StreamHeader = nullptr;
        leadingEdge_.OffsetIn = KSSTREAM_POINTER_OFFSET{};
        leadingEdge_.OffsetOut = KSSTREAM_POINTER_OFFSET{};
        leadingEdge_.Offset = nullptr;
    }
    if (header->DataUsed > header->FrameExtent) {
        VerifierFail("pin %u completed a frame with DataUsed %u beyond its FrameExtent %u", ks_.Id,
                     header->DataUsed, header->FrameExtent);
    }
    if (options_.onComplete) {
        options_.onComplete(header, STATUS_SUCCESS);
    }
}

NTSTATUS Pin::ReferenceClock(PIKSREFERENCECLOCK* clock) {
    if (clockReference_ == nullptr) {
        *clock = nullptr;
        return STATUS_DEVICE_NOT_READY;
    }
    clockReference_->AddRef();
    *clock = clockReference_.get();
    return STATUS_SUCCESS;
}

bool Pin::CheckEdit(PVOID* pointerToPointer, PVOID item, ULONG oldSize) {
    const auto* descriptor = reinterpret_cast<const uint8_t*>(ks_.Descriptor);
    const auto* field = reinterpret_cast<const uint8_t*>(pointerToPointer);
    if (static_cast<const void*>(pointerToPointer) == static_cast<const void*>(&ks_.Descriptor)) {
        if (oldSize != sizeof(KSPIN_DESCRIPTOR_EX)) {
            VerifierFail("_KsEdit of pin %u's descriptor with an old size of %u; a "
                         "KSPIN_DESCRIPTOR_EX has %zu bytes",
                         ks_.Id, oldSize, sizeof(KSPIN_DESCRIPTOR_EX));
            return false;
        }
        return true;
    }
    if (field >= descriptor && field < descriptor + sizeof(KSPIN_DESCRIPTOR_EX) &&
        !bag_.Contains(ks_.Descriptor)) {
        VerifierFail("_KsEdit writes into pin %u's descriptor, which is still the filter's "
                     "shared table; make the descriptor private first",
                     ks_.Id);
        return false;
    }
    if (item != nullptr && item == ks_.Descriptor->AllocatorFraming) {
        const auto* framing = static_cast<const KSALLOCATOR_FRAMING_EX*>(item);
        const size_t size = offsetof(KSALLOCATOR_FRAMING_EX, FramingItem) +
                            size_t{framing->CountItems} * sizeof(KS_FRAMING_ITEM);
        if (oldSize != size) {
            VerifierFail("_KsEdit of pin %u's allocator framing (%u item(s), %zu bytes) with an "
                         "old size of %u",
                         ks_.Id, framing->CountItems, size, oldSize);
            return false;
        }
    }
    return true;
}

} // namespace sim::ks

using sim::ks::Pin;

// Synchronous and asynchronous requests alike run Process on the pin's class-driver thread,
// never on the caller's.
void KsPinAttemptProcessing(PKSPIN Pin, BOOLEAN) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "KsPinAttemptProcessing");
    if (auto* pin = Pin::FromKs(Pin, "KsPinAttemptProcessing")) {
        pin->AttemptProcessing();
    }
}

PKSSTREAM_POINTER KsPinGetLeadingEdgeStreamPointer(PKSPIN Pin, KSSTREAM_POINTER_STATE State) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "KsPinGetLeadingEdgeStreamPointer");
    auto* pin = Pin::FromKs(Pin, "KsPinGetLeadingEdgeStreamPointer");
    return pin != nullptr ? pin->LeadingEdge(State) : nullptr;
}

void KsStreamPointerUnlock(PKSSTREAM_POINTER StreamPointer, BOOLEAN Eject) {
    sim::CheckIrqlAtMost(DISPATCH_LEVEL, "KsStreamPointerUnlock");
    if (auto* pin = Pin::FromStreamPointer(StreamPointer)) {
        pin->Unlock(StreamPointer, Eject != FALSE);
    }
}

NTSTATUS KsPinGetReferenceClockInterface(PKSPIN Pin, PIKSREFERENCECLOCK* Interface) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "KsPinGetReferenceClockInterface");
    auto* pin = Pin::FromKs(Pin, "KsPinGetReferenceClockInterface");
    if (pin == nullptr) {
        *Interface = nullptr;
        return STATUS_INVALID_PARAMETER;
    }
    return pin->ReferenceClock(Interface);
}

NTSTATUS _KsEdit(KSOBJECT_BAG ObjectBag, PVOID* PointerToPointerToItem, ULONG NewSize,
                 ULONG OldSize, ULONG Tag) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "_KsEdit");
    auto* bag = sim::ks::ObjectBag::FromHandle(ObjectBag, "_KsEdit");
    if (bag == nullptr || PointerToPointerToItem == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (NewSize == 0 || OldSize == 0) {
        sim::VerifierFail("_KsEdit in the object bag of the %s with a size of 0 (new %u, old %u)",
                          bag->owner().c_str(), NewSize, OldSize);
        return STATUS_INVALID_PARAMETER;
    }
    PVOID item = *PointerToPointerToItem;
    const ULONG editSize = bag->EditSize(item);
    if (editSize != 0 && OldSize != editSize) {
        sim::VerifierFail("_KsEdit in the object bag of the %s: the item is a private copy of %u "
                          "bytes, edited with an old size of %u",
                          bag->owner().c_str(), editSize, OldSize);
        return STATUS_INVALID_PARAMETER;
    }
    sim::ks::Node* node = bag->node();
    if (node != nullptr && node->kind() == sim::ks::Node::Kind::Pin &&
        !static_cast<Pin*>(node)->CheckEdit(PointerToPointerToItem, item, OldSize)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (editSize != 0 && NewSize <= editSize) {
        return STATUS_SUCCESS; // already private and large enough
    }
    PVOID copy = ExAllocatePoolWithTag(NonPagedPool, NewSize, Tag);
    if (copy == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memset(copy, 0, NewSize);
    if (item != nullptr) {
        std::memcpy(copy, item, std::min(NewSize, OldSize));
    }
    const NTSTATUS status = bag->AddEdit(copy, NewSize, Tag);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(copy, Tag);
        return status;
    }
    *PointerToPointerToItem = copy;
    if (editSize != 0) {
        bag->Remove(item, true, "_KsEdit");
    }
    return STATUS_SUCCESS;
}
