#include "sim/host/host.h"

#include <algorithm>

#include "sim/wdk/verifier.h"

namespace sim::host {
namespace {

constexpr uint8_t kGuardByte = 0xFD;

ULONG Align8(ULONG size) { return (size + 7) & ~ULONG{7}; }

} // namespace

//
// Driver, Device.
//

std::shared_ptr<Driver> Driver::Load(const std::wstring& serviceName,
                                     sim::ks::DriverEntryRoutine entry, NTSTATUS* status) {
    auto image = sim::ks::DriverImage::Load(serviceName, entry, status);
    if (image == nullptr) {
        return nullptr;
    }
    return std::shared_ptr<Driver>(new Driver(std::move(image)));
}

std::unique_ptr<Device> Device::Add(std::shared_ptr<Driver> driver, PDEVICE_OBJECT physicalDevice,
                                    NTSTATUS* status) {
    NTSTATUS result;
    auto device = driver->image().AddDevice(physicalDevice, &result);
    if (status != nullptr) {
        *status = result;
    }
    if (device == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<Device>(new Device(std::move(driver), std::move(device)));
}

Device::~Device() { Remove(); }

NTSTATUS Device::Start() { return device_->Start(); }
void Device::Stop() { device_->Stop(); }
void Device::StopWithHandlesOpen() { device_->Stop(true); }
NTSTATUS Device::QueryStop() { return device_->QueryStop(); }
void Device::CancelStop() { device_->CancelStop(); }
NTSTATUS Device::QueryRemove() { return device_->QueryRemove(); }
void Device::CancelRemove() { device_->CancelRemove(); }
void Device::SurpriseRemoval() { device_->SurpriseRemoval(); }
void Device::Remove() { device_->Remove(); }
NTSTATUS Device::QueryCapabilities(DEVICE_CAPABILITIES* capabilities) {
    return device_->QueryCapabilities(capabilities);
}
bool Device::started() const {
    return device_->pnpState() == sim::ks::Device::PnpState::Started;
}
bool Device::removed() const {
    return device_->pnpState() == sim::ks::Device::PnpState::Removed;
}
PKSDEVICE Device::ks() { return device_->ks(); }
PVOID Device::context() { return device_->ks()->Context; }
size_t Device::factoryCount() { return device_->Factories().size(); }

std::unique_ptr<Filter> Device::OpenFilter(const GUID* category, NTSTATUS* status) {
    NTSTATUS result = STATUS_OBJECT_NAME_NOT_FOUND;
    sim::ks::Filter* filter = nullptr;
    for (sim::ks::FilterFactory* factory : device_->Factories()) {
        if (category == nullptr || factory->HasCategory(*category)) {
            filter = device_->OpenFilter(factory, &result);
            break;
        }
    }
    if (status != nullptr) {
        *status = result;
    }
    if (filter == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<Filter>(new Filter(*this, filter));
}

//
// Frame.
//

Frame::Frame(ULONG dataBytes, ULONG headerBytes)
    : dataBytes_(dataBytes), headerBytes_(headerBytes), data_(dataBytes + kGuard, 0),
      header_(headerBytes + kGuard, 0) {
    std::fill(data_.begin() + dataBytes, data_.end(), kGuardByte);
    std::fill(header_.begin() + headerBytes, header_.end(), kGuardByte);
    Reset();
}

void Frame::Reset() {
    std::fill(header_.begin(), header_.begin() + headerBytes_, 0);
    if (headerBytes_ >= sizeof(KSSTREAM_HEADER)) {
        KSSTREAM_HEADER& h = header();
        h.Size = headerBytes_;
        h.FrameExtent = dataBytes_;
        h.Data = data_.data();
    } else if (headerBytes_ >= sizeof(ULONG)) {
        std::memcpy(header_.data(), &headerBytes_, sizeof(ULONG));
    }
    status_ = STATUS_PENDING;
}

KS_FRAME_INFO* Frame::frameInfo() {
    if (headerBytes_ < kHeaderWithFrameInfo) {
        return nullptr;
    }
    return reinterpret_cast<KS_FRAME_INFO*>(header_.data() + sizeof(KSSTREAM_HEADER));
}

bool Frame::GuardsIntact() const {
    auto intact = [](const std::vector<uint8_t>& bytes, size_t from) {
        return std::all_of(bytes.begin() + from, bytes.end(),
                           [](uint8_t b) { return b == kGuardByte; });
    };
    return intact(data_, dataBytes_) && intact(header_, headerBytes_);
}

//
// Filter.
//

Filter::~Filter() { device_.ksDevice().CloseFilter(filter_); }

PKSFILTER Filter::ks() { return filter_->ks(); }
PVOID Filter::context() { return filter_->ks()->Context; }

namespace {

// A property request as the proxy hands it to the class driver's filter or pin.
template <typename KsObject>
PropertyResult SendProperty(KsObject& object, const void* property, ULONG propertyLength,
                            void* data, ULONG dataLength) {
    ULONG_PTR bytes = 0;
    PropertyResult result;
    result.status = object.Property(property, propertyLength, data, dataLength, &bytes);
    result.bytes = static_cast<ULONG>(bytes);
    return result;
}

std::vector<uint64_t> BuildProperty(const GUID& set, ULONG id, ULONG flags, const void* instance,
                                    ULONG instanceLength, ULONG* length) {
    *length = sizeof(KSPROPERTY) + instanceLength;
    std::vector<uint64_t> storage((*length + 7) / 8, 0);
    KSPROPERTY header{};
    header.Set = set;
    header.Id = id;
    header.Flags = flags;
    std::memcpy(storage.data(), &header, sizeof header);
    if (instanceLength > 0) {
        std::memcpy(reinterpret_cast<uint8_t*>(storage.data()) + sizeof header, instance,
                    instanceLength);
    }
    return storage;
}

} // namespace

PropertyResult Filter::RawProperty(const void* property, ULONG propertyLength, void* data,
                                   ULONG dataLength) {
    return SendProperty(*filter_, property, propertyLength, data, dataLength);
}

PropertyResult Filter::Property(const GUID& set, ULONG id, ULONG flags, void* data,
                                ULONG dataLength, const void* instance, ULONG instanceLength) {
    ULONG length;
    auto property = BuildProperty(set, id, flags, instance, instanceLength, &length);
    return RawProperty(property.data(), length, data, dataLength);
}

NTSTATUS Filter::PinInstances(ULONG pinId, KSPIN_CINSTANCES* instances) {
    const ULONG reserved = 0;
    ULONG instance[2] = {pinId, reserved};
    return Property(KSPROPSETID_Pin, KSPROPERTY_PIN_CINSTANCES, KSPROPERTY_TYPE_GET, instances,
                    sizeof *instances, instance, sizeof instance)
        .status;
}

NTSTATUS Filter::DataRanges(ULONG pinId, std::vector<std::vector<uint8_t>>* ranges) {
    ranges->clear();
    ULONG instance[2] = {pinId, 0};
    PropertyResult size = Property(KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES,
                                   KSPROPERTY_TYPE_GET, nullptr, 0, instance, sizeof instance);
    if (size.status != STATUS_BUFFER_OVERFLOW) {
        return NT_SUCCESS(size.status) ? STATUS_UNSUCCESSFUL : size.status;
    }
    std::vector<uint64_t> buffer((size.bytes + 7) / 8, 0);
    PropertyResult got = Property(KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, KSPROPERTY_TYPE_GET,
                                  buffer.data(), size.bytes, instance, sizeof instance);
    if (!got.ok()) {
        return got.status;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(buffer.data());
    KSMULTIPLE_ITEM header;
    std::memcpy(&header, bytes, sizeof header);
    ULONG offset = sizeof header;
    for (ULONG i = 0; i < header.Count; ++i) {
        offset = Align8(offset);
        KSDATARANGE range;
        if (offset + sizeof range > got.bytes) {
            return STATUS_INVALID_BUFFER_SIZE;
        }
        std::memcpy(&range, bytes + offset, sizeof range);
        if (range.FormatSize < sizeof range || offset + range.FormatSize > got.bytes) {
            return STATUS_INVALID_BUFFER_SIZE;
        }
        ranges->emplace_back(bytes + offset, bytes + offset + range.FormatSize);
        offset += range.FormatSize;
    }
    return STATUS_SUCCESS;
}

NTSTATUS Filter::VideoRange(ULONG pinId, KS_DATARANGE_VIDEO* range) {
    std::vector<std::vector<uint8_t>> ranges;
    const NTSTATUS status = DataRanges(pinId, &ranges);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (ranges.empty() || ranges[0].size() < sizeof *range) {
        return STATUS_NO_MATCH;
    }
    std::memcpy(range, ranges[0].data(), sizeof *range);
    return STATUS_SUCCESS;
}

PropertyResult Filter::Intersect(ULONG pinId, const std::vector<const KSDATARANGE*>& ranges,
                                 void* buffer, ULONG bufferLength) {
    // KSP_PIN's instance part, then a KSMULTIPLE_ITEM of the ranges, each 8-byte aligned.
    ULONG listSize = sizeof(KSMULTIPLE_ITEM);
    for (const KSDATARANGE* range : ranges) {
        listSize = Align8(listSize) + range->FormatSize;
    }
    const ULONG instanceLength = 2 * sizeof(ULONG) + listSize;
    std::vector<uint64_t> instance((instanceLength + 7) / 8, 0);
    auto* bytes = reinterpret_cast<uint8_t*>(instance.data());
    const ULONG pin[2] = {pinId, 0};
    std::memcpy(bytes, pin, sizeof pin);
    uint8_t* list = bytes + sizeof pin;
    const KSMULTIPLE_ITEM header{listSize, static_cast<ULONG>(ranges.size())};
    std::memcpy(list, &header, sizeof header);
    ULONG offset = sizeof header;
    for (const KSDATARANGE* range : ranges) {
        offset = Align8(offset);
        std::memcpy(list + offset, range, range->FormatSize);
        offset += range->FormatSize;
    }
    return Property(KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION, KSPROPERTY_TYPE_GET, buffer,
                    bufferLength, bytes, instanceLength);
}

std::vector<uint8_t> Filter::IntersectFormat(ULONG pinId, const KSDATARANGE& range,
                                             NTSTATUS* status) {
    PropertyResult size = Intersect(pinId, {&range}, nullptr, 0);
    if (size.status != STATUS_BUFFER_OVERFLOW) {
        if (status != nullptr) {
            *status = NT_SUCCESS(size.status) ? STATUS_UNSUCCESSFUL : size.status;
        }
        return {};
    }
    std::vector<uint8_t> format(size.bytes);
    PropertyResult got = Intersect(pinId, {&range}, format.data(), size.bytes);
    if (status != nullptr) {
        *status = got.status;
    }
    if (!got.ok()) {
        return {};
    }
    format.resize(got.bytes);
    return format;
}

std::unique_ptr<Pin> Filter::CreatePin(ULONG pinId, const std::vector<uint8_t>& format,
                                       PinSettings settings, NTSTATUS* status) {
    KSPIN_CONNECT connect{};
    connect.Interface.Set = KSINTERFACESETID_Standard;
    connect.Interface.Id = KSINTERFACE_STANDARD_STREAMING;
    connect.Medium.Set = KSMEDIUMSETID_Standard;
    connect.Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
    connect.PinId = pinId;
    connect.Priority.PriorityClass = KSPRIORITY_NORMAL;
    connect.Priority.PrioritySubClass = 1;

    std::unique_ptr<Pin> pin(new Pin(*this));
    if (settings.referenceClock) {
        pin->clock_ = settings.clock != nullptr ? settings.clock
                                                : std::make_shared<sim::ks::GraphClock>();
    }
    sim::ks::PinOptions options;
    options.clock = pin->clock_;
    Pin* raw = pin.get();
    options.onComplete = [raw](PKSSTREAM_HEADER header, NTSTATUS result) {
        raw->Completed(header, result);
    };
    // The format travels 8-byte aligned, as in the create request.
    std::vector<uint64_t> aligned((format.size() + 7) / 8 + 8, 0);
    std::memcpy(aligned.data(), format.data(), format.size());
    const auto* ksFormat = reinterpret_cast<const KSDATAFORMAT*>(aligned.data());
    NTSTATUS result;
    if (format.size() < sizeof(KSDATAFORMAT) || ksFormat->FormatSize > format.size()) {
        result = STATUS_INVALID_BUFFER_SIZE;
    } else {
        pin->pin_ = filter_->CreatePin(connect, ksFormat, std::move(options), &result);
    }
    if (status != nullptr) {
        *status = result;
    }
    if (pin->pin_ == nullptr) {
        return nullptr;
    }
    return pin;
}

//
// Pin.
//

Pin::~Pin() {
    if (pin_ == nullptr) {
        return; // never created
    }
    filter_.ksFilter().ClosePin(pin_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!queued_.empty()) {
        VerifierFail("pin closed with %zu client frame(s) never handed back", queued_.size());
    }
}

PKSPIN Pin::ks() { return pin_->ks(); }
PVOID Pin::context() { return pin_->ks()->Context; }
KSSTATE Pin::State() { return pin_->State(); }

// One request per state on the way, as the kernel streaming proxy sends them.
NTSTATUS Pin::SetState(KSSTATE state) {
    if (state < KSSTATE_STOP || state > KSSTATE_RUN) {
        return Property(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, KSPROPERTY_TYPE_SET,
                        &state, sizeof state)
            .status;
    }
    while (State() != state) {
        KSSTATE next = static_cast<KSSTATE>(State() + (state > State() ? 1 : -1));
        const NTSTATUS status = Property(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE,
                                         KSPROPERTY_TYPE_SET, &next, sizeof next)
                                    .status;
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS Pin::SetFormat(const std::vector<uint8_t>& format) {
    std::vector<uint8_t> copy = format;
    return Property(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_DATAFORMAT, KSPROPERTY_TYPE_SET,
                    copy.data(), static_cast<ULONG>(copy.size()))
        .status;
}

PropertyResult Pin::RawProperty(const void* property, ULONG propertyLength, void* data,
                                ULONG dataLength) {
    return SendProperty(*pin_, property, propertyLength, data, dataLength);
}

PropertyResult Pin::Property(const GUID& set, ULONG id, ULONG flags, void* data,
                             ULONG dataLength) {
    ULONG length;
    auto property = BuildProperty(set, id, flags, nullptr, 0, &length);
    return RawProperty(property.data(), length, data, dataLength);
}

NTSTATUS Pin::Queue(std::unique_ptr<Frame> frame, std::unique_ptr<Frame>* refused) {
    PKSSTREAM_HEADER header = &frame->header();
    frame->status_ = STATUS_PENDING;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queued_[header] = std::move(frame);
    }
    const NTSTATUS status = pin_->QueueFrame(header);
    if (status != STATUS_PENDING) {
        std::unique_ptr<Frame> back;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = queued_.find(header);
            back = std::move(it->second);
            queued_.erase(it);
        }
        back->status_ = status;
        if (refused != nullptr) {
            *refused = std::move(back);
        }
    }
    return status;
}

void Pin::Completed(PKSSTREAM_HEADER header, NTSTATUS status) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = queued_.find(header);
    if (it == queued_.end()) {
        VerifierFail("the class driver completed a frame header %p the client never queued",
                     static_cast<void*>(header));
        return;
    }
    std::unique_ptr<Frame> frame = std::move(it->second);
    queued_.erase(it);
    if (!frame->GuardsIntact()) {
        VerifierFail("a client frame came back with bytes written past the end of its data "
                     "(%u bytes) or of its header (%u bytes)",
                     frame->dataBytes_, frame->headerBytes_);
    }
    frame->status_ = status;
    done_.push_back(std::move(frame));
    completed_.notify_all();
}

std::unique_ptr<Frame> Pin::WaitFrame(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!completed_.wait_for(lock, timeout, [this] { return !done_.empty(); })) {
        return nullptr;
    }
    std::unique_ptr<Frame> frame = std::move(done_.front());
    done_.pop_front();
    return frame;
}

std::unique_ptr<Frame> Pin::TakeFrame() { return WaitFrame(std::chrono::milliseconds(0)); }

size_t Pin::CompletedFrames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_.size();
}

size_t Pin::QueuedFrames() { return pin_->QueuedFrames(); }

std::vector<uint8_t> VideoFormatFromRange(const KS_DATARANGE_VIDEO& range) {
    KS_DATAFORMAT_VIDEOINFOHEADER format{};
    std::memcpy(&format.DataFormat, &range.DataRange, sizeof format.DataFormat);
    format.DataFormat.FormatSize = sizeof format;
    format.VideoInfoHeader = range.VideoInfoHeader;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&format);
    return std::vector<uint8_t>(bytes, bytes + sizeof format);
}

} // namespace sim::host
