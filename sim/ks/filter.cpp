// Filters: create and close, property requests, pin creation, and the pin property set the
// class driver answers on every filter (instances, data ranges, data intersection).
#include "sim/ks/class_driver.h"
#include "sim/ks/property_routing.h"

namespace sim::ks {
namespace {

Filter* FilterFromIrp(PIRP irp) {
    Node* node = Node::FromFileObject(IoGetCurrentIrpStackLocation(irp)->FileObject);
    return node != nullptr && node->kind() == Node::Kind::Filter ? static_cast<Filter*>(node)
                                                                 : nullptr;
}

ULONG InputLength(PIRP irp) {
    return IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.InputBufferLength;
}

ULONG Align8(ULONG size) { return (size + FILE_QUAD_ALIGNMENT) & ~ULONG{FILE_QUAD_ALIGNMENT}; }

// The descriptor of the pin a KSP_PIN request names, or null.
const KSPIN_DESCRIPTOR_EX* RequestedPin(PIRP irp, PKSIDENTIFIER request, Filter** filter) {
    *filter = FilterFromIrp(irp);
    if (*filter == nullptr) {
        return nullptr;
    }
    return (*filter)->PinDescriptor(reinterpret_cast<PKSP_PIN>(request)->PinId);
}

template <typename T>
NTSTATUS Answer(PIRP irp, PVOID data, const T& value) {
    std::memcpy(data, &value, sizeof value);
    irp->IoStatus.Information = sizeof value;
    return STATUS_SUCCESS;
}

NTSTATUS PinCInstances(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    Filter* filter;
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(irp, request, &filter);
    if (pin == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    KSPIN_CINSTANCES instances{pin->InstancesPossible,
                               filter->PinCount(reinterpret_cast<PKSP_PIN>(request)->PinId)};
    return Answer(irp, data, instances);
}

NTSTATUS PinCTypes(PIRP irp, PKSIDENTIFIER, PVOID data) {
    Filter* filter = FilterFromIrp(irp);
    if (filter == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    return Answer(irp, data, filter->ks()->Descriptor->PinDescriptorsCount);
}

NTSTATUS PinDataFlow(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    Filter* filter;
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(irp, request, &filter);
    return pin == nullptr ? STATUS_INVALID_PARAMETER
                          : Answer(irp, data, pin->PinDescriptor.DataFlow);
}

NTSTATUS PinCommunication(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    Filter* filter;
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(irp, request, &filter);
    return pin == nullptr ? STATUS_INVALID_PARAMETER
                          : Answer(irp, data, pin->PinDescriptor.Communication);
}

NTSTATUS PinNecessaryInstances(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    Filter* filter;
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(irp, request, &filter);
    return pin == nullptr ? STATUS_INVALID_PARAMETER : Answer(irp, data, pin->InstancesNecessary);
}

NTSTATUS PinCategory(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    Filter* filter;
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(irp, request, &filter);
    if (pin == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (pin->PinDescriptor.Category == nullptr) {
        return STATUS_NOT_FOUND;
    }
    return Answer(irp, data, *pin->PinDescriptor.Category);
}

// KSMULTIPLE_ITEM followed by each range, every range starting 8-byte aligned.
NTSTATUS PinDataRanges(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    Filter* filter;
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(irp, request, &filter);
    if (pin == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const KSPIN_DESCRIPTOR& descriptor = pin->PinDescriptor;
    ULONG total = sizeof(KSMULTIPLE_ITEM);
    for (ULONG i = 0; i < descriptor.DataRangesCount; ++i) {
        total = Align8(total) + descriptor.DataRanges[i]->FormatSize;
    }
    if (const NTSTATUS room = CheckAnswerRoom(irp, total); room != STATUS_SUCCESS) {
        return room;
    }
    auto* out = static_cast<uint8_t*>(data);
    KSMULTIPLE_ITEM header{total, descriptor.DataRangesCount};
    std::memset(out, 0, total);
    std::memcpy(out, &header, sizeof header);
    ULONG offset = sizeof header;
    for (ULONG i = 0; i < descriptor.DataRangesCount; ++i) {
        offset = Align8(offset);
        std::memcpy(out + offset, descriptor.DataRanges[i], descriptor.DataRanges[i]->FormatSize);
        offset += descriptor.DataRanges[i]->FormatSize;
    }
    irp->IoStatus.Information = total;
    return STATUS_SUCCESS;
}

bool GuidsMeet(const GUID& a, const GUID& b) { return a == GUID_NULL || b == GUID_NULL || a == b; }

bool RangesMeet(const KSDATARANGE& a, const KSDATARANGE& b) {
    return GuidsMeet(a.MajorFormat, b.MajorFormat) && GuidsMeet(a.SubFormat, b.SubFormat) &&
           GuidsMeet(a.Specifier, b.Specifier);
}

// KSP_PIN, then a KSMULTIPLE_ITEM of the caller's ranges. Each caller range, in order, is
// offered to the pin's intersection handler with each descriptor range it meets; the first
// answer other than STATUS_NO_MATCH is the result.
NTSTATUS PinDataIntersection(PIRP irp, PKSIDENTIFIER request, PVOID data) {
    Filter* filter;
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(irp, request, &filter);
    if (pin == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG inputLength = InputLength(irp);
    auto* input = reinterpret_cast<uint8_t*>(request);
    KSMULTIPLE_ITEM list;
    std::memcpy(&list, input + sizeof(KSP_PIN), sizeof list);
    if (list.Size < sizeof list || list.Size > inputLength - sizeof(KSP_PIN)) {
        return STATUS_INVALID_BUFFER_SIZE;
    }
    const ULONG outputLength = OutputLength(irp);
    uint8_t* const end = input + sizeof(KSP_PIN) + list.Size;
    uint8_t* cursor = input + sizeof(KSP_PIN) + sizeof list;
    for (ULONG i = 0; i < list.Count; ++i) {
        cursor = input + Align8(static_cast<ULONG>(cursor - input));
        if (cursor + sizeof(KSDATARANGE) > end) {
            return STATUS_INVALID_BUFFER_SIZE;
        }
        auto* callerRange = reinterpret_cast<PKSDATARANGE>(cursor);
        if (callerRange->FormatSize < sizeof(KSDATARANGE) ||
            callerRange->FormatSize > static_cast<ULONG>(end - cursor)) {
            return STATUS_INVALID_BUFFER_SIZE;
        }
        for (ULONG r = 0; r < pin->PinDescriptor.DataRangesCount; ++r) {
            PKSDATARANGE pinRange = pin->PinDescriptor.DataRanges[r];
            if (!RangesMeet(*callerRange, *pinRange)) {
                continue;
            }
            ULONG size = 0;
            NTSTATUS status;
            if (pin->IntersectHandler != nullptr) {
                DriverCall call("the pin's data intersection handler");
                status = pin->IntersectHandler(filter->ks(), irp, reinterpret_cast<PKSP_PIN>(request),
                                               callerRange, pinRange, outputLength, data, &size);
            } else {
                // Without a handler the pin's own range is the format.
                size = pinRange->FormatSize;
                status = outputLength == 0        ? STATUS_BUFFER_OVERFLOW
                         : outputLength < size     ? STATUS_BUFFER_TOO_SMALL
                                                   : (std::memcpy(data, pinRange, size), STATUS_SUCCESS);
            }
            if (status != STATUS_NO_MATCH) {
                irp->IoStatus.Information = size;
                return status;
            }
        }
        cursor += callerRange->FormatSize;
    }
    return STATUS_NO_MATCH;
}

#define ZYN_KS_PIN_ITEM(id, handler, minProperty, minData)                                         \
    DEFINE_KSPROPERTY_ITEM(id, handler, minProperty, minData, nullptr, nullptr, 0, nullptr,      \
                           nullptr, 0)

const KSPROPERTY_ITEM kPinItems[] = {
    ZYN_KS_PIN_ITEM(KSPROPERTY_PIN_CINSTANCES, PinCInstances, sizeof(KSP_PIN),
                    sizeof(KSPIN_CINSTANCES)),
    ZYN_KS_PIN_ITEM(KSPROPERTY_PIN_CTYPES, PinCTypes, sizeof(KSPROPERTY), sizeof(ULONG)),
    ZYN_KS_PIN_ITEM(KSPROPERTY_PIN_DATAFLOW, PinDataFlow, sizeof(KSP_PIN), sizeof(KSPIN_DATAFLOW)),
    ZYN_KS_PIN_ITEM(KSPROPERTY_PIN_DATARANGES, PinDataRanges, sizeof(KSP_PIN), 0),
    ZYN_KS_PIN_ITEM(KSPROPERTY_PIN_DATAINTERSECTION, PinDataIntersection,
                    sizeof(KSP_PIN) + sizeof(KSMULTIPLE_ITEM), 0),
    ZYN_KS_PIN_ITEM(KSPROPERTY_PIN_COMMUNICATION, PinCommunication, sizeof(KSP_PIN),
                    sizeof(KSPIN_COMMUNICATION)),
    ZYN_KS_PIN_ITEM(KSPROPERTY_PIN_GLOBALCINSTANCES, PinCInstances, sizeof(KSP_PIN),
                    sizeof(KSPIN_CINSTANCES)),
    ZYN_KS_PIN_ITEM(KSPROPERTY_PIN_NECESSARYINSTANCES, PinNecessaryInstances, sizeof(KSP_PIN),
                    sizeof(ULONG)),
    ZYN_KS_PIN_ITEM(KSPROPERTY_PIN_CATEGORY, PinCategory, sizeof(KSP_PIN), sizeof(GUID)),
};

const KSPROPERTY_SET kFilterSets[] = {
    DEFINE_KSPROPERTY_SET(&KSPROPSETID_Pin, SIZEOF_ARRAY(kPinItems), kPinItems, 0, nullptr),
};

const KSAUTOMATION_TABLE kFilterClassTable = {
    DEFINE_KSAUTOMATION_PROPERTIES(kFilterSets),
    DEFINE_KSAUTOMATION_METHODS_NULL,
    DEFINE_KSAUTOMATION_EVENTS_NULL,
};

} // namespace

Filter::Filter(FilterFactory& factory)
    : Node(Kind::Filter, factory.device(), &factory), factory_(factory), bag_("filter") {
    KeInitializeMutex(&control_, 0);
    sim::lock_order::Name(&control_, "control mutex of a filter");
    bag_.SetNode(this);
    InitFileObject(&file_, deviceObject(), nullptr);
    file_.FileName.Buffer = const_cast<PWSTR>(factory.refString().c_str());
    file_.FileName.Length = static_cast<USHORT>(factory.refString().size() * sizeof(WCHAR));
    file_.FileName.MaximumLength = file_.FileName.Length;
    ks_.Descriptor = factory.descriptor();
    ks_.Bag = bag_.Handle();
    ks_.Context = factory.device()->ks()->Context;
    Publish(&ks_);
}

Filter::~Filter() {
    if (!pins_.empty()) {
        VerifierFail("filter deleted with %zu pin(s) open", pins_.size());
    }
    sim::lock_order::ForgetRange(&control_, sizeof control_);
}

PDEVICE_OBJECT Filter::deviceObject() { return device()->ks()->FunctionalDeviceObject; }

NTSTATUS Filter::Create() {
    MutexHold hold(control_);
    const KSFILTER_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    NTSTATUS status = STATUS_SUCCESS;
    if (dispatch != nullptr && dispatch->Create != nullptr) {
        RequestIrp irp(deviceObject(), IRP_MJ_CREATE, 0, &file_);
        DriverCall call("the filter's Create dispatch");
        status = dispatch->Create(&ks_, irp.get());
    }
    if (!NT_SUCCESS(status)) {
        bag_.FreeAll();
    }
    return status;
}

void Filter::Close() {
    for (Pin* pin : Pins()) {
        ClosePin(pin);
    }
    MutexHold hold(control_);
    const KSFILTER_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->Close != nullptr) {
        RequestIrp irp(deviceObject(), IRP_MJ_CLOSE, 0, &file_);
        DriverCall call("the filter's Close dispatch");
        dispatch->Close(&ks_, irp.get());
    }
    bag_.FreeAll();
}

void Device::CloseFilter(Filter* filter) {
    {
        MutexHold hold(mutex_);
        filter->Close();
    }
    std::unique_ptr<Filter> going;
    {
        std::lock_guard<std::mutex> lock(objectsMutex_);
        auto& filters = filter->factory().filters();
        for (auto it = filters.begin(); it != filters.end(); ++it) {
            if (it->get() == filter) {
                going = std::move(*it);
                filters.erase(it);
                break;
            }
        }
    }
}

NTSTATUS Filter::Property(const void* property, ULONG propertyLength, void* data,
                          ULONG dataLength, ULONG_PTR* information) {
    MutexHold hold(control_);
    return RouteProperty(ks_.Descriptor->AutomationTable, &kFilterClassTable, ks_.Descriptor,
                         deviceObject(), &file_, property, propertyLength, data, dataLength,
                         information);
}

const KSPIN_DESCRIPTOR_EX* Filter::PinDescriptor(ULONG pinId) const {
    const KSFILTER_DESCRIPTOR* descriptor = ks_.Descriptor;
    if (pinId >= descriptor->PinDescriptorsCount) {
        return nullptr;
    }
    return reinterpret_cast<const KSPIN_DESCRIPTOR_EX*>(
        reinterpret_cast<const uint8_t*>(descriptor->PinDescriptors) +
        size_t{pinId} * descriptor->PinDescriptorSize);
}

ULONG Filter::PinCount(ULONG pinId) {
    std::lock_guard<std::mutex> lock(device()->objectsMutex());
    ULONG count = 0;
    for (auto& pin : pins_) {
        count += pin->ks()->Id == pinId ? 1 : 0;
    }
    return count;
}

std::vector<Pin*> Filter::Pins() {
    std::lock_guard<std::mutex> lock(device()->objectsMutex());
    std::vector<Pin*> pins;
    for (auto& pin : pins_) {
        pins.push_back(pin.get());
    }
    return pins;
}

namespace {

bool IsStandard(const KSIDENTIFIER& id, const GUID& set, ULONG standardId) {
    return id.Set == set && id.Id == standardId;
}

bool Listed(const KSIDENTIFIER& id, const KSIDENTIFIER* list, ULONG count) {
    for (ULONG i = 0; i < count; ++i) {
        if (list[i].Set == id.Set && list[i].Id == id.Id) {
            return true;
        }
    }
    return false;
}

} // namespace

// Pin creation statuses: an unknown pin id STATUS_INVALID_PARAMETER; a format shorter than a
// KSDATAFORMAT STATUS_INVALID_BUFFER_SIZE; every instance the descriptor allows already open
// STATUS_INSUFFICIENT_RESOURCES; an interface or medium the pin does not offer STATUS_NO_MATCH;
// then the format check (STATUS_NO_MATCH when no range takes it) and the driver's answers.
Pin* Filter::CreatePin(const KSPIN_CONNECT& connect, const KSDATAFORMAT* format,
                       PinOptions options, NTSTATUS* status) {
    MutexHold hold(control_);
    const KSPIN_DESCRIPTOR_EX* descriptor = PinDescriptor(connect.PinId);
    if (descriptor == nullptr) {
        *status = STATUS_INVALID_PARAMETER;
        return nullptr;
    }
    if (format == nullptr || format->FormatSize < sizeof(KSDATAFORMAT)) {
        *status = STATUS_INVALID_BUFFER_SIZE;
        return nullptr;
    }
    if (PinCount(connect.PinId) >= descriptor->InstancesPossible) {
        *status = STATUS_INSUFFICIENT_RESOURCES;
        return nullptr;
    }
    const KSPIN_DESCRIPTOR& pd = descriptor->PinDescriptor;
    const bool interfaceOk =
        pd.InterfacesCount == 0
            ? IsStandard(connect.Interface, KSINTERFACESETID_Standard,
                         KSINTERFACE_STANDARD_STREAMING)
            : Listed(connect.Interface, pd.Interfaces, pd.InterfacesCount);
    const bool mediumOk =
        pd.MediumsCount == 0
            ? IsStandard(connect.Medium, KSMEDIUMSETID_Standard, KSMEDIUM_TYPE_ANYINSTANCE)
            : Listed(connect.Medium, pd.Mediums, pd.MediumsCount);
    if (!interfaceOk || !mediumOk) {
        *status = STATUS_NO_MATCH;
        return nullptr;
    }
    auto pin = std::make_unique<Pin>(*this, connect.PinId, connect, format, std::move(options));
    *status = pin->Create();
    if (!NT_SUCCESS(*status)) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(device()->objectsMutex());
    pins_.push_back(std::move(pin));
    return pins_.back().get();
}

void Filter::ClosePin(Pin* pin) {
    std::unique_ptr<Pin> going;
    {
        MutexHold hold(control_);
        pin->Close();
        std::lock_guard<std::mutex> lock(device()->objectsMutex());
        for (auto it = pins_.begin(); it != pins_.end(); ++it) {
            if (it->get() == pin) {
                going = std::move(*it);
                pins_.erase(it);
                break;
            }
        }
    }
}

} // namespace sim::ks

ULONG KsFilterGetChildPinCount(PKSFILTER Filter, ULONG PinId) {
    sim::ks::Node* node = sim::ks::Node::Find(Filter);
    if (node == nullptr || node->kind() != sim::ks::Node::Kind::Filter) {
        sim::VerifierFail("KsFilterGetChildPinCount of %p, which is no filter",
                          static_cast<void*>(Filter));
        return 0;
    }
    return static_cast<sim::ks::Filter*>(node)->PinCount(PinId);
}
