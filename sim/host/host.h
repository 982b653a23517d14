// The application side of kernel streaming: what a capture application and the kernel
// streaming proxy do with a driver. Load a driver image, add and start a device on a physical
// device object, open its filter, send property requests of any set with any buffer sizes,
// read the offered data ranges, intersect a format, create the pin, queue client frames, take
// completed frames with their headers, and move the pin through its states.
//
// Objects close in the order an application's handles would: a Pin before its Filter, a Filter
// before its Device's Stop or removal. Destructors close what is still open.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "sim/ks/class_driver.h"

namespace sim::host {

// The outcome of a property request: the status and the byte count the driver reported.
struct PropertyResult {
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    ULONG bytes = 0;
    bool ok() const { return NT_SUCCESS(status); }
};

// A loaded driver image, shared by the devices it drives. The image unloads with its last
// reference; unloading reports what it leaked.
class Driver {
public:
    static std::shared_ptr<Driver> Load(const std::wstring& serviceName,
                                        sim::ks::DriverEntryRoutine entry,
                                        NTSTATUS* status = nullptr);
    const std::string& name() const { return image_->name(); }
    sim::ks::DriverImage& image() { return *image_; }

private:
    explicit Driver(std::unique_ptr<sim::ks::DriverImage> image) : image_(std::move(image)) {}
    std::unique_ptr<sim::ks::DriverImage> image_;
};

class Filter;
class Pin;

// One device of a driver on a physical device object (the bus's device object for a camera).
class Device {
public:
    // Plug and Play's AddDevice with the driver's Add dispatch; null with the status on failure.
    static std::unique_ptr<Device> Add(std::shared_ptr<Driver> driver,
                                       PDEVICE_OBJECT physicalDevice, NTSTATUS* status = nullptr);
    // Removes the device if that has not happened.
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    NTSTATUS Start();
    void Stop();
    // The Stop after a granted query-stop while the application keeps its filter and pin.
    void StopWithHandlesOpen();
    void SurpriseRemoval();
    void Remove();
    NTSTATUS QueryStop();
    void CancelStop();
    NTSTATUS QueryRemove();
    void CancelRemove();
    NTSTATUS QueryCapabilities(DEVICE_CAPABILITIES* capabilities);
    bool started() const;
    bool removed() const;

    PKSDEVICE ks();
    // The driver's device context (KSDEVICE Context).
    PVOID context();
    size_t factoryCount();

    // Opens the filter of the first factory registered under the category (null: the first
    // factory). Null with the status on failure: STATUS_OBJECT_NAME_NOT_FOUND when no factory
    // matches, else the class driver's or the driver's status.
    std::unique_ptr<Filter> OpenFilter(const GUID* category = &KSCATEGORY_VIDEO,
                                       NTSTATUS* status = nullptr);

    sim::ks::Device& ksDevice() { return *device_; }
    Driver& driver() { return *driver_; }

private:
    Device(std::shared_ptr<Driver> driver, std::unique_ptr<sim::ks::Device> device)
        : driver_(std::move(driver)), device_(std::move(device)) {}
    std::shared_ptr<Driver> driver_;
    std::unique_ptr<sim::ks::Device> device_;
};

// A client frame: the data buffer and its stream header, owned by the application. The header
// may be longer than a KSSTREAM_HEADER (a KS_FRAME_INFO behind it is what video clients use).
class Frame {
public:
    static constexpr ULONG kHeaderWithFrameInfo = sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO);

    explicit Frame(ULONG dataBytes, ULONG headerBytes = kHeaderWithFrameInfo);
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    KSSTREAM_HEADER& header() { return *reinterpret_cast<KSSTREAM_HEADER*>(header_.data()); }
    const KSSTREAM_HEADER& header() const {
        return *reinterpret_cast<const KSSTREAM_HEADER*>(header_.data());
    }
    // The KS_FRAME_INFO behind the header, or null when the header has no room for it.
    KS_FRAME_INFO* frameInfo();
    uint8_t* data() { return data_.data(); }
    const uint8_t* data() const { return data_.data(); }
    ULONG dataBytes() const { return dataBytes_; }
    ULONG headerBytes() const { return headerBytes_; }
    // How the class driver completed the frame: STATUS_SUCCESS, or STATUS_CANCELLED when the
    // pin stopped with the frame queued. STATUS_PENDING while queued.
    NTSTATUS status() const { return status_; }

    // Resets the header for queueing again (Size, FrameExtent, Data; everything else 0).
    void Reset();

private:
    friend class Pin;
    static constexpr size_t kGuard = 32;
    bool GuardsIntact() const;

    ULONG dataBytes_;
    ULONG headerBytes_;
    std::vector<uint8_t> data_;   // dataBytes_ + guard
    std::vector<uint8_t> header_; // headerBytes_ + guard, 8-byte aligned by the allocator
    NTSTATUS status_ = STATUS_SUCCESS;
};

struct PinSettings {
    // The graph has a reference clock (real time unless `clock` is given).
    bool referenceClock = true;
    std::shared_ptr<sim::ks::GraphClock> clock;
};

class Filter {
public:
    ~Filter();
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;

    // A property request exactly as given: `property` is the KSPROPERTY header with any
    // instance data behind it.
    PropertyResult RawProperty(const void* property, ULONG propertyLength, void* data,
                               ULONG dataLength);
    // A request built from its parts: KSPROPERTY {set, id, flags}, then the instance bytes.
    PropertyResult Property(const GUID& set, ULONG id, ULONG flags, void* data, ULONG dataLength,
                            const void* instance = nullptr, ULONG instanceLength = 0);

    // KSPROPSETID_Pin requests of the class driver.
    NTSTATUS PinInstances(ULONG pinId, KSPIN_CINSTANCES* instances);
    // Every data range of the pin, each as its bytes.
    NTSTATUS DataRanges(ULONG pinId, std::vector<std::vector<uint8_t>>* ranges);
    // The first range of the pin as a video range.
    NTSTATUS VideoRange(ULONG pinId, KS_DATARANGE_VIDEO* range);
    // KSPROPERTY_PIN_DATAINTERSECTION with the caller's ranges and a buffer of the given size
    // (0 asks for the size).
    PropertyResult Intersect(ULONG pinId, const std::vector<const KSDATARANGE*>& ranges,
                             void* buffer, ULONG bufferLength);
    // The size query, then the intersection into a buffer of that size.
    std::vector<uint8_t> IntersectFormat(ULONG pinId, const KSDATARANGE& range,
                                         NTSTATUS* status = nullptr);

    // Creates the pin with the format (a KSDATAFORMAT and what follows, FormatSize bytes).
    std::unique_ptr<Pin> CreatePin(ULONG pinId, const std::vector<uint8_t>& format,
                                   PinSettings settings = {}, NTSTATUS* status = nullptr);

    PKSFILTER ks();
    PVOID context();
    sim::ks::Filter& ksFilter() { return *filter_; }

private:
    friend class Device;
    Filter(Device& device, sim::ks::Filter* filter) : device_(device), filter_(filter) {}
    Device& device_;
    sim::ks::Filter* filter_;
};

class Pin {
public:
    // Stops the pin (through every state) and closes it.
    ~Pin();
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

    // KSPROPERTY_CONNECTION_STATE, one request for each state on the way (STOP, ACQUIRE,
    // PAUSE, RUN); stops at the first refused and returns its status.
    NTSTATUS SetState(KSSTATE state);
    KSSTATE State();
    // KSPROPERTY_CONNECTION_DATAFORMAT with a new format.
    NTSTATUS SetFormat(const std::vector<uint8_t>& format);
    PropertyResult RawProperty(const void* property, ULONG propertyLength, void* data,
                               ULONG dataLength);
    PropertyResult Property(const GUID& set, ULONG id, ULONG flags, void* data, ULONG dataLength);

    // Queues a frame (IOCTL_KS_READ_STREAM). STATUS_PENDING when queued; otherwise the frame
    // was refused and is handed back through `refused` when given.
    NTSTATUS Queue(std::unique_ptr<Frame> frame, std::unique_ptr<Frame>* refused = nullptr);
    // The next completed frame, in completion order; null when none completes in time.
    std::unique_ptr<Frame> WaitFrame(std::chrono::milliseconds timeout);
    std::unique_ptr<Frame> TakeFrame(); // without waiting
    size_t CompletedFrames();
    size_t QueuedFrames();

    PKSPIN ks();
    PVOID context();
    sim::ks::Pin& ksPin() { return *pin_; }
    const std::shared_ptr<sim::ks::GraphClock>& clock() const { return clock_; }

private:
    friend class Filter;
    Pin(Filter& filter) : filter_(filter) {}
    void Completed(PKSSTREAM_HEADER header, NTSTATUS status);

    Filter& filter_;
    sim::ks::Pin* pin_ = nullptr;
    std::shared_ptr<sim::ks::GraphClock> clock_;
    std::mutex mutex_;
    std::condition_variable completed_;
    std::unordered_map<PKSSTREAM_HEADER, std::unique_ptr<Frame>> queued_;
    std::deque<std::unique_ptr<Frame>> done_;
};

// The format a client asks for from a video range: KSDATAFORMAT (FormatSize 152) and the
// range's KS_VIDEOINFOHEADER.
std::vector<uint8_t> VideoFormatFromRange(const KS_DATARANGE_VIDEO& range);

} // namespace sim::host
