#include "tests/sim_ks/fake_minidriver.h"

#include <algorithm>
#include <mutex>

namespace fake {

extern const KSFILTER_DESCRIPTOR g_filterDescriptor;

namespace {

std::mutex g_logMutex;
std::vector<std::string> g_log;
Config g_config;
std::atomic<uint64_t> g_delivered{0};
std::atomic<uint64_t> g_empty{0};
std::atomic<PIKSREFERENCECLOCK> g_pinClock{nullptr};

void Note(const std::string& entry) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_log.push_back(entry);
}

struct PinContext {
    PIKSREFERENCECLOCK clock;
    LONGLONG frames;
};

DeviceContext* ContextFromIrp(PIRP irp) {
    PKSFILTER filter = KsGetFilterFromIrp(irp);
    if (filter == nullptr) {
        return nullptr;
    }
    return static_cast<DeviceContext*>(KsGetDevice(filter)->Context);
}

//
// Device.
//

void FreeDeviceContext(PVOID context) {
    Note("DeviceContextFreed");
    ExFreePoolWithTag(context, kContextTag);
}

NTSTATUS Add(PKSDEVICE device) {
    Note(device->Started ? "Add (started!)" : "Add");
    auto* context = static_cast<DeviceContext*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(DeviceContext), kContextTag));
    if (context == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memset(context, 0, sizeof *context);
    context->device = device;
    KsAcquireDevice(device);
    const NTSTATUS status = KsAddItemToObjectBag(device->Bag, context, FreeDeviceContext);
    KsReleaseDevice(device);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(context, kContextTag);
        return status;
    }
    device->Context = context;
    return g_config.addStatus;
}

NTSTATUS Start(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST, PCM_RESOURCE_LIST) {
    Note(device->Started ? "Start (started)" : "Start");
    KsAcquireDevice(device);
    const NTSTATUS status = KsCreateFilterFactory(
        device->FunctionalDeviceObject, &g_filterDescriptor, const_cast<PWSTR>(L"GLOBAL"), nullptr,
        KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr, nullptr);
    KsReleaseDevice(device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    return g_config.startStatus;
}

void Stop(PKSDEVICE, PIRP) {
    Note("Stop");
}

NTSTATUS QueryCapabilities(PKSDEVICE, PIRP, PDEVICE_CAPABILITIES capabilities) {
    Note("QueryCapabilities");
    if (g_config.clearRemovable) {
        capabilities->Removable = 0;
    }
    return STATUS_SUCCESS;
}

//
// Filter and its properties.
//

void FreeFilterContext(PVOID context) {
    Note("FilterContextFreed");
    ExFreePoolWithTag(context, kContextTag);
}

NTSTATUS FilterCreate(PKSFILTER filter, PIRP irp) {
    auto* device = static_cast<DeviceContext*>(KsGetDevice(filter)->Context);
    ++device->filtersCreated;
    Note("FilterCreate " + std::to_string(device->filtersCreated));
    if (KsGetFilterFromIrp(irp) != filter) {
        Note("FilterCreate: the IRP leads to another filter");
    }
    auto* context = static_cast<PKSFILTER*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(PKSFILTER), kContextTag));
    if (context == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    *context = filter;
    NTSTATUS status = KsAddItemToObjectBag(filter->Bag, context, FreeFilterContext);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(context, kContextTag);
        return status;
    }
    if (g_config.addTwice) {
        KsAddItemToObjectBag(filter->Bag, context, FreeFilterContext);
    }
    filter->Context = context;
    return STATUS_SUCCESS;
}

NTSTATUS FilterClose(PKSFILTER, PIRP) {
    Note("FilterClose");
    return STATUS_SUCCESS;
}

NTSTATUS GetValue(PIRP irp, PKSPROPERTY, PVOID data) {
    DeviceContext* device = ContextFromIrp(irp);
    if (device == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    std::memcpy(data, &device->value, sizeof(ULONG));
    return STATUS_SUCCESS;
}

NTSTATUS SetValue(PIRP irp, PKSPROPERTY, PVOID data) {
    DeviceContext* device = ContextFromIrp(irp);
    if (device == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    std::memcpy(&device->value, data, sizeof(ULONG));
    return STATUS_SUCCESS;
}

NTSTATUS GetOnly(PIRP irp, PKSPROPERTY, PVOID data) {
    DeviceContext* device = ContextFromIrp(irp);
    const ULONG answer[2] = {device->filtersCreated, 0xC0FFEE};
    std::memcpy(data, answer, sizeof answer);
    return STATUS_SUCCESS;
}

NTSTATUS SetOnly(PIRP irp, PKSPROPERTY, PVOID data) {
    std::memcpy(&ContextFromIrp(irp)->setOnly, data, sizeof(ULONG));
    return STATUS_SUCCESS;
}

NTSTATUS InstanceEcho(PIRP irp, PKSPROPERTY property, PVOID data) {
    std::memcpy(data, property + 1, 8);
    irp->IoStatus.Information = 8;
    return STATUS_SUCCESS;
}

NTSTATUS Overclaim(PIRP irp, PKSPROPERTY, PVOID) {
    irp->IoStatus.Information = 4096;
    return STATUS_SUCCESS;
}

NTSTATUS Overrun(PIRP, PKSPROPERTY, PVOID data) {
    std::memset(data, 0x5A, sizeof(ULONG) + 1);
    return STATUS_SUCCESS;
}

const KSPROPERTY_ITEM g_items[] = {
    DEFINE_KSPROPERTY_ITEM(kValue, GetValue, sizeof(KSPROPERTY), sizeof(ULONG), SetValue, nullptr,
                           0, nullptr, nullptr, 0),
    DEFINE_KSPROPERTY_ITEM(kGetOnly, GetOnly, sizeof(KSPROPERTY), 2 * sizeof(ULONG), nullptr,
                           nullptr, 0, nullptr, nullptr, 0),
    DEFINE_KSPROPERTY_ITEM(kSetOnly, nullptr, sizeof(KSPROPERTY), sizeof(ULONG), SetOnly, nullptr,
                           0, nullptr, nullptr, 0),
    DEFINE_KSPROPERTY_ITEM(kInstanceEcho, InstanceEcho, sizeof(KSPROPERTY) + 8, 8, nullptr, nullptr,
                           0, nullptr, nullptr, 0),
    DEFINE_KSPROPERTY_ITEM(kOverclaim, Overclaim, sizeof(KSPROPERTY), sizeof(ULONG), nullptr,
                           nullptr, 0, nullptr, nullptr, 0),
    DEFINE_KSPROPERTY_ITEM(kOverrun, Overrun, sizeof(KSPROPERTY), sizeof(ULONG), nullptr, nullptr,
                           0, nullptr, nullptr, 0),
};

const KSPROPERTY_SET g_sets[] = {
    DEFINE_KSPROPERTY_SET(&kPropertySet, SIZEOF_ARRAY(g_items), g_items, 0, nullptr),
};

const KSAUTOMATION_TABLE g_automation = {
    DEFINE_KSAUTOMATION_PROPERTIES(g_sets),
    DEFINE_KSAUTOMATION_METHODS_NULL,
    DEFINE_KSAUTOMATION_EVENTS_NULL,
};

//
// The capture pin.
//

void FreePinContext(PVOID context) {
    Note("PinContextFreed");
    ExFreePoolWithTag(context, kContextTag);
}

NTSTATUS PinCreate(PKSPIN pin, PIRP irp) {
    Note("PinCreate");
    if (g_config.onPinCreate) {
        g_config.onPinCreate(pin);
    }
    if (KsGetPinFromIrp(irp) != pin || KsGetFilterFromIrp(irp) != KsPinGetParentFilter(pin)) {
        Note("PinCreate: the IRP leads elsewhere");
    }
    auto* context = static_cast<PinContext*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(PinContext), kContextTag));
    if (context == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memset(context, 0, sizeof *context);
    if (!g_config.leakPinContext) {
        const NTSTATUS status = KsAddItemToObjectBag(pin->Bag, context, FreePinContext);
        if (!NT_SUCCESS(status)) {
            ExFreePoolWithTag(context, kContextTag);
            return status;
        }
    }
    pin->Context = context;
    NTSTATUS status = _KsEdit(pin->Bag, (PVOID*)&pin->Descriptor, sizeof(KSPIN_DESCRIPTOR_EX),
                              sizeof(KSPIN_DESCRIPTOR_EX), kEditTag);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* descriptor = const_cast<PKSPIN_DESCRIPTOR_EX>(pin->Descriptor);
    const ULONG framingSize = g_config.editWrongSize ? 96 : sizeof(KSALLOCATOR_FRAMING_EX);
    status = _KsEdit(pin->Bag, (PVOID*)&descriptor->AllocatorFraming, framingSize, framingSize,
                     kEditTag);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* framing = const_cast<PKSALLOCATOR_FRAMING_EX>(descriptor->AllocatorFraming);
    framing->FramingItem[0].PhysicalRange = {kImageBytes, kImageBytes, 0};
    framing->FramingItem[0].FramingRange.Range = {kImageBytes, kImageBytes, 0};
    return STATUS_SUCCESS;
}

NTSTATUS PinClose(PKSPIN pin, PIRP) {
    Note("PinClose");
    if (g_config.onPinClose) {
        g_config.onPinClose(pin);
    }
    return STATUS_SUCCESS;
}

NTSTATUS PinSetDataFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PKSMULTIPLE_ITEM, const KSDATARANGE*,
                          const KSATTRIBUTE_LIST*) {
    Note(oldFormat != nullptr ? "SetDataFormat change" : "SetDataFormat");
    const KSDATAFORMAT* format = pin->ConnectionFormat;
    if (format->Specifier != KSDATAFORMAT_SPECIFIER_VIDEOINFO ||
        format->FormatSize < sizeof(KS_DATAFORMAT_VIDEOINFOHEADER)) {
        return STATUS_NO_MATCH;
    }
    const auto* video = reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(format);
    if (video->VideoInfoHeader.bmiHeader.biWidth != kWidth) {
        return STATUS_NO_MATCH;
    }
    if (oldFormat != nullptr && pin->DeviceState != KSSTATE_STOP) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    return STATUS_SUCCESS;
}

NTSTATUS PinSetDeviceState(PKSPIN pin, KSSTATE to, KSSTATE from) {
    Note("PinSetDeviceState " + std::to_string(from) + ">" + std::to_string(to));
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        Note("PinSetDeviceState above PASSIVE_LEVEL");
    }
    auto* context = static_cast<PinContext*>(pin->Context);
    if (from == KSSTATE_STOP && to == KSSTATE_ACQUIRE) {
        if (!NT_SUCCESS(g_config.acquireStatus)) {
            return g_config.acquireStatus;
        }
        if (!NT_SUCCESS(KsPinGetReferenceClockInterface(pin, &context->clock))) {
            context->clock = nullptr;
        }
        g_pinClock = context->clock;
    }
    if (to == KSSTATE_STOP && context->clock != nullptr) {
        context->clock->Release();
        context->clock = nullptr;
    }
    return STATUS_SUCCESS;
}

NTSTATUS PinProcess(PKSPIN pin) {
    if (g_config.process) {
        return g_config.process(pin);
    }
    PKSSTREAM_POINTER pointer =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    if (pointer == nullptr) {
        ++g_empty;
        return STATUS_PENDING;
    }
    auto* context = static_cast<PinContext*>(pin->Context);
    PKSSTREAM_HEADER header = pointer->StreamHeader;
    const ULONG bytes = std::min(kImageBytes, pointer->OffsetOut.Remaining);
    ++context->frames;
    std::memset(pointer->OffsetOut.Data, static_cast<int>(context->frames & 0xFF), bytes);
    header->DataUsed = bytes;
    header->Duration = 333333;
    header->PresentationTime.Numerator = 1;
    header->PresentationTime.Denominator = 1;
    if (context->clock != nullptr) {
        header->PresentationTime.Time = context->clock->GetTime();
        header->OptionsFlags =
            KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID;
    }
    if (header->Size >= sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO)) {
        auto* info = reinterpret_cast<PKS_FRAME_INFO>(header + 1);
        info->ExtendedHeaderSize = sizeof(KS_FRAME_INFO);
        info->PictureNumber = context->frames;
    }
    KsStreamPointerUnlock(pointer, TRUE);
    if (g_config.unlockTwice) {
        KsStreamPointerUnlock(pointer, TRUE);
    }
    ++g_delivered;
    // Called again while frames are queued.
    return STATUS_SUCCESS;
}

NTSTATUS Intersect(PVOID context, PIRP irp, PKSP_PIN, PKSDATARANGE callerRange,
                   PKSDATARANGE pinRange, ULONG bufferSize, PVOID data, PULONG dataSize) {
    if (context != KsGetFilterFromIrp(irp)) {
        Note("Intersect: the context is not the filter");
    }
    if (callerRange->Specifier != KSDATAFORMAT_SPECIFIER_VIDEOINFO ||
        callerRange->FormatSize < sizeof(KS_DATARANGE_VIDEO)) {
        return STATUS_NO_MATCH;
    }
    const auto* caller = reinterpret_cast<const KS_DATARANGE_VIDEO*>(callerRange);
    const ULONG size = sizeof(KSDATAFORMAT) + KS_SIZE_VIDEOHEADER(&caller->VideoInfoHeader);
    if (bufferSize == 0) {
        *dataSize = size;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (bufferSize < size) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    std::memcpy(data, pinRange, sizeof(KSDATAFORMAT));
    static_cast<PKSDATAFORMAT>(data)->FormatSize = size;
    std::memcpy(static_cast<uint8_t*>(data) + sizeof(KSDATAFORMAT), &caller->VideoInfoHeader,
                size - sizeof(KSDATAFORMAT));
    *dataSize = size;
    return STATUS_SUCCESS;
}

KS_DATARANGE_VIDEO g_range;
PKSDATARANGE g_ranges[] = {reinterpret_cast<PKSDATARANGE>(&g_range)};

const KSALLOCATOR_FRAMING_EX g_framing = {
    1,
    0,
    {1, 1, 0},
    0,
    {{{STATICGUIDOF(KSMEMORY_TYPE_KERNEL_NONPAGED)},
      {STATIC_GUID_NULL},
      0,
      0,
      KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY | KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY,
      2,
      0,
      0,
      {0, 0xFFFFFFFF, 1},
      {{8192, 8192, 1}, 0, 0}}},
};

const KSPIN_DISPATCH g_pinDispatch = {
    PinCreate,         PinClose, PinProcess, nullptr, PinSetDataFormat,
    PinSetDeviceState, nullptr,  nullptr,    nullptr, nullptr,
};

KSPIN_DESCRIPTOR_EX g_pins[1];

const GUID g_categories[] = {STATICGUIDOF(KSCATEGORY_VIDEO), STATICGUIDOF(KSCATEGORY_CAPTURE)};

const KSFILTER_DISPATCH g_filterDispatch = {FilterCreate, FilterClose, nullptr, nullptr};

const KSDEVICE_DISPATCH g_deviceDispatch = {
    Add,     Start,   nullptr,           nullptr, nullptr, Stop,    nullptr,
    nullptr, nullptr, QueryCapabilities, nullptr, nullptr, nullptr, nullptr,
};

const KSDEVICE_DESCRIPTOR g_deviceDescriptor = {&g_deviceDispatch, 0, nullptr, 0};

void BuildTables() {
    std::memset(&g_range, 0, sizeof g_range);
    g_range.DataRange.FormatSize = sizeof g_range;
    g_range.DataRange.SampleSize = kImageBytes;
    g_range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_VIDEO;
    g_range.DataRange.SubFormat = KSDATAFORMAT_SUBTYPE_RGB32;
    g_range.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
    g_range.bFixedSizeSamples = TRUE;
    g_range.ConfigCaps.guid = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
    g_range.ConfigCaps.InputSize = {kWidth, kHeight};
    g_range.ConfigCaps.MinOutputSize = {kWidth, kHeight};
    g_range.ConfigCaps.MaxOutputSize = {kWidth, kHeight};
    g_range.ConfigCaps.MinFrameInterval = 333333;
    g_range.ConfigCaps.MaxFrameInterval = 333333;
    KS_VIDEOINFOHEADER& info = g_range.VideoInfoHeader;
    info.rcSource = {0, 0, kWidth, kHeight};
    info.AvgTimePerFrame = 333333;
    info.bmiHeader.biSize = sizeof(KS_BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = KS_BI_RGB;
    info.bmiHeader.biSizeImage = kImageBytes;

    KSPIN_DESCRIPTOR_EX& pin = g_pins[0];
    std::memset(&pin, 0, sizeof pin);
    pin.Dispatch = &g_pinDispatch;
    pin.PinDescriptor.DataRangesCount = 1;
    pin.PinDescriptor.DataRanges = g_ranges;
    pin.PinDescriptor.DataFlow = KSPIN_DATAFLOW_OUT;
    pin.PinDescriptor.Communication = KSPIN_COMMUNICATION_BOTH;
    pin.PinDescriptor.Category = &PINNAME_VIDEO_CAPTURE;
    pin.PinDescriptor.Name = &PINNAME_VIDEO_CAPTURE;
    pin.Flags = g_config.pinFlags;
    pin.InstancesPossible = g_config.instancesPossible;
    pin.InstancesNecessary = 1;
    pin.AllocatorFraming = &g_framing;
    pin.IntersectHandler = Intersect;
}

} // namespace

const KSFILTER_DESCRIPTOR g_filterDescriptor = {
    &g_filterDispatch,
    &g_automation,
    KSFILTER_DESCRIPTOR_VERSION,
    0,
    &KSNAME_Filter,
    DEFINE_KSFILTER_PIN_DESCRIPTORS(g_pins),
    DEFINE_KSFILTER_CATEGORIES(g_categories),
    DEFINE_KSFILTER_NODE_DESCRIPTORS_NULL,
    DEFINE_KSFILTER_DEFAULT_CONNECTIONS,
    nullptr,
};

Config& config() {
    return g_config;
}

void Reset() {
    g_config = Config{};
    ClearLog();
    g_delivered = 0;
    g_empty = 0;
    g_pinClock = nullptr;
    BuildTables();
}

std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_log;
}

void ClearLog() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_log.clear();
}

bool Logged(const std::string& entry) {
    auto log = Log();
    return std::find(log.begin(), log.end(), entry) != log.end();
}

PIKSREFERENCECLOCK PinClock() {
    return g_pinClock;
}
uint64_t FramesDelivered() {
    return g_delivered;
}
uint64_t EmptyProcessCalls() {
    return g_empty;
}
const KS_DATARANGE_VIDEO& DataRange() {
    return g_range;
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    // Tables whose flags a test chose are rebuilt here, as if compiled into the image.
    BuildTables();
    if (!NT_SUCCESS(g_config.entryStatus)) {
        return g_config.entryStatus;
    }
    return KsInitializeDriver(driverObject, registryPath, &g_deviceDescriptor);
}

} // namespace fake
