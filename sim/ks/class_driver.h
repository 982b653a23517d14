// The simulated kernel streaming class driver: driver images, devices with their Plug and Play
// life, filter factories, filters, pins, property routing and stream processing. Applications
// reach it through sim/host; tests of the class driver itself use these classes directly.
//
// Every call into a driver (dispatch routines, property and intersection handlers, bag release
// callbacks excepted) is made at PASSIVE_LEVEL and checked on return: a routine that comes back
// at raised IRQL, holding a spin lock, owning a mutex it did not own on entry or inside a
// critical region it entered is reported. Kernel streaming serialises the dispatch calls of one
// filter and its pins with the filter's control mutex (a kernel mutex), and runs a pin's
// Process routine on a thread of the class driver, one call at a time per pin.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/ks/ksmedia.h"
#include "sim/ks/object_bag.h"
#include "sim/ks/reference_clock.h"
#include "sim/wdk/lock_order.h"

namespace sim::ks {

class Device;
class FilterFactory;
class Filter;
class Pin;

// A kernel streaming object, found by the address of its public structure (PKSDEVICE,
// PKSFILTERFACTORY, PKSFILTER, PKSPIN) or by its file object.
class Node {
public:
    enum class Kind { Device, FilterFactory, Filter, Pin };

    Node(Kind kind, Device* device, Node* parent);
    virtual ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // The node whose public structure is at `object`, or null.
    static Node* Find(const void* object);
    // The node a file object was opened on, or null.
    static Node* FromFileObject(PFILE_OBJECT file);

    Kind kind() const { return kind_; }
    Device* device() const { return device_; }
    Node* parent() const { return parent_; }
    virtual void* PublicObject() = 0;

protected:
    // Registers the public structure; called by each subclass's constructor.
    void Publish(const void* object);
    // A file object whose FsContext leads back to this node.
    void InitFileObject(FILE_OBJECT* file, PDEVICE_OBJECT device, FILE_OBJECT* related);

private:
    const Kind kind_;
    Device* const device_;
    Node* const parent_;
    const void* published_ = nullptr;
};

// A request packet for a dispatch routine: a stack location with the major and minor function
// and the file object. The class driver builds it in its own memory and never sends it; drivers
// only read it, as they do the platform's.
class RequestIrp {
public:
    RequestIrp(PDEVICE_OBJECT device, UCHAR major, UCHAR minor, PFILE_OBJECT file);
    PIRP get() { return reinterpret_cast<PIRP>(storage_.data()); }
    PIO_STACK_LOCATION stack() { return IoGetCurrentIrpStackLocation(get()); }

private:
    std::vector<uint64_t> storage_;
};

// Brackets a call into a driver (see the file comment).
class DriverCall {
public:
    explicit DriverCall(const char* what);
    ~DriverCall();
    DriverCall(const DriverCall&) = delete;
    DriverCall& operator=(const DriverCall&) = delete;

private:
    const char* what_;
    int spinLocks_;
    int mutexes_;
    int regions_;
};

// RAII ownership of a kernel mutex; `file` and `line` name the holder in lock-order reports.
class MutexHold {
public:
    explicit MutexHold(KMUTEX& mutex, const char* file = __builtin_FILE(),
                       int line = __builtin_LINE());
    ~MutexHold();
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

private:
    KMUTEX& mutex_;
};

using DriverEntryRoutine = NTSTATUS (*)(PDRIVER_OBJECT, PUNICODE_STRING);

// A driver image: its driver object, loaded through its entry point. In the simulated build
// several images share one process; unloading the last one reports every pool block, handle,
// reference and system thread that the images left behind.
class DriverImage {
public:
    // Runs the entry point at PASSIVE_LEVEL; on failure the image is unloaded again and null
    // returned with the entry's status.
    static std::unique_ptr<DriverImage> Load(const std::wstring& serviceName,
                                             DriverEntryRoutine entry, NTSTATUS* status);
    // Unloads; every device must have been removed.
    ~DriverImage();
    DriverImage(const DriverImage&) = delete;
    DriverImage& operator=(const DriverImage&) = delete;

    PDRIVER_OBJECT driverObject() const { return driver_; }
    const KSDEVICE_DESCRIPTOR* descriptor() const { return descriptor_; }
    const std::string& name() const { return name_; }
    bool initialized() const { return initialized_; }

    // Plug and Play's AddDevice: a new device for the physical device object, with the driver's
    // Add dispatch run. Null with the status on failure.
    std::unique_ptr<Device> AddDevice(PDEVICE_OBJECT physicalDevice, NTSTATUS* status);

    static DriverImage* FromDriverObject(PDRIVER_OBJECT driver);
    void Initialize(const KSDEVICE_DESCRIPTOR* descriptor);
    void DeviceGone() { --devices_; }

private:
    DriverImage(const std::wstring& serviceName);

    std::string name_;
    std::wstring registryPath_;
    UNICODE_STRING registryPathString_{};
    PDRIVER_OBJECT driver_ = nullptr;
    const KSDEVICE_DESCRIPTOR* descriptor_ = nullptr;
    bool initialized_ = false;
    std::atomic<int> devices_{0};
};

class Device : public Node {
public:
    enum class PnpState { Added, Started, Stopped, Removed };

    ~Device() override;
    void* PublicObject() override { return &ks_; }
    static Device* FromKs(PKSDEVICE device, const char* call);
    static Device* FromFunctionalDeviceObject(PDEVICE_OBJECT fdo);

    // Plug and Play. Start on success sets Started; a failed Start is cleaned up with the Stop
    // dispatch, as on the platform. Stop and Remove need every filter closed, unless a test asks
    // for the Stop that follows a granted query-stop while an application keeps its handles
    // (resources rebalanced): filters then stay open, and their factory goes once they close and
    // the device is stopped again or removed. SurpriseRemoval may come with anything open; the
    // application then closes its handles before Remove.
    NTSTATUS Start();
    void Stop(bool handlesMayBeOpen = false);
    void SurpriseRemoval();
    void Remove();
    // The queries before a stop or removal, and their cancellation. Without a driver dispatch a
    // query is granted. A cancel needs a query before it.
    NTSTATUS QueryStop();
    void CancelStop();
    NTSTATUS QueryRemove();
    void CancelRemove();
    // The bus's capabilities of a USB device, then the driver's QueryCapabilities.
    NTSTATUS QueryCapabilities(DEVICE_CAPABILITIES* capabilities);
    PnpState pnpState() const { return pnpState_; }

    PKSDEVICE ks() { return &ks_; }
    DriverImage& image() { return image_; }
    KMUTEX& mutex() { return mutex_; }
    ObjectBag& bag() { return bag_; }

    // Filter factories in creation order.
    std::vector<FilterFactory*> Factories();
    NTSTATUS CreateFactory(const KSFILTER_DESCRIPTOR* descriptor, PWSTR refString,
                           ULONG createItemFlags, PKSFILTERFACTORY* factory);
    // Opens a filter from the factory (IRP_MJ_CREATE): null with the status on failure.
    Filter* OpenFilter(FilterFactory* factory, NTSTATUS* status);
    // Closes the filter (IRP_MJ_CLOSE, its pins first) and deletes it.
    void CloseFilter(Filter* filter);
    size_t OpenFilters();

    // Guards the lists of factories, filters and pins (not the calls into the driver).
    std::mutex& objectsMutex() { return objectsMutex_; }

private:
    friend class DriverImage;
    Device(DriverImage& image, PDEVICE_OBJECT physicalDevice);
    NTSTATUS Add();
    void FreeFactories(bool onlyFreeOnStop);
    void RequireNoOpenFilters(const char* what);
    const KSDEVICE_DISPATCH* Dispatch() const {
        return ks_.Descriptor ? ks_.Descriptor->Dispatch : nullptr;
    }
    // Sends a PnP IRP of the minor code to the dispatch `handler`, where the minidriver has
    // one; STATUS_SUCCESS where it has none or the handler returns nothing.
    template <typename Handler>
    NTSTATUS CallPnpDispatch(Handler KSDEVICE_DISPATCH::*handler, UCHAR minor, const char* what);
    // A query granted by its dispatch stands until it is cancelled; a cancel needs its query.
    enum class Query { None, Stop, Remove };
    template <typename Handler>
    NTSTATUS AskQuery(Query query, Handler KSDEVICE_DISPATCH::*handler, UCHAR minor,
                      const char* what);
    template <typename Handler>
    void CancelQuery(Query query, Handler KSDEVICE_DISPATCH::*handler, UCHAR minor,
                     const char* what);

    DriverImage& image_;
    KSDEVICE ks_{};
    KMUTEX mutex_{};
    ObjectBag bag_;
    PDEVICE_OBJECT pdo_;
    PDEVICE_OBJECT fdo_ = nullptr;
    PnpState pnpState_ = PnpState::Added;
    Query query_ = Query::None;
    std::mutex objectsMutex_;
    std::vector<std::unique_ptr<FilterFactory>> factories_;
};

class FilterFactory : public Node {
public:
    FilterFactory(Device& device, const KSFILTER_DESCRIPTOR* descriptor, PWSTR refString,
                  ULONG createItemFlags, PVOID cost);
    ~FilterFactory() override;
    void* PublicObject() override { return &ks_; }

    PKSFILTERFACTORY ks() { return &ks_; }
    const KSFILTER_DESCRIPTOR* descriptor() const { return ks_.FilterDescriptor; }
    const std::wstring& refString() const { return refString_; }
    ULONG createItemFlags() const { return flags_; }
    bool HasCategory(const GUID& category) const;
    std::vector<std::unique_ptr<Filter>>& filters() { return filters_; }

private:
    KSFILTERFACTORY ks_{};
    ObjectBag bag_;
    std::wstring refString_;
    ULONG flags_;
    PVOID cost_;
    std::vector<std::unique_ptr<Filter>> filters_;
};

struct PinOptions {
    // The graph's reference clock; null when the graph has none.
    std::shared_ptr<GraphClock> clock;
    // Called for each frame the pin completes (eject, or cancelled at stop), on the thread that
    // completed it. The header and data are the client's own memory, handed back.
    std::function<void(PKSSTREAM_HEADER header, NTSTATUS status)> onComplete;
};

class Filter : public Node {
public:
    Filter(FilterFactory& factory);
    ~Filter() override;
    void* PublicObject() override { return &ks_; }

    PKSFILTER ks() { return &ks_; }
    FilterFactory& factory() { return factory_; }
    KMUTEX& control() { return control_; }
    PFILE_OBJECT fileObject() { return &file_; }
    PDEVICE_OBJECT deviceObject();

    NTSTATUS Create();
    // Closes every pin still open, then the filter; the caller deletes it.
    void Close();

    // A property request as IOCTL_KS_PROPERTY carries it: the KSPROPERTY header with its
    // instance data, and the data buffer. Returns the status; `information` gets the byte
    // count the request reported.
    NTSTATUS Property(const void* property, ULONG propertyLength, void* data, ULONG dataLength,
                      ULONG_PTR* information);

    // Creates a pin (IRP_MJ_CREATE on the filter with KSPIN_CONNECT and the data format).
    Pin* CreatePin(const KSPIN_CONNECT& connect, const KSDATAFORMAT* format, PinOptions options,
                   NTSTATUS* status);
    void ClosePin(Pin* pin);
    ULONG PinCount(ULONG pinId);
    const KSPIN_DESCRIPTOR_EX* PinDescriptor(ULONG pinId) const;
    std::vector<Pin*> Pins();

private:
    FilterFactory& factory_;
    KSFILTER ks_{};
    ObjectBag bag_;
    KMUTEX control_{};
    FILE_OBJECT file_{};
    std::vector<std::unique_ptr<Pin>> pins_;
};

class Pin : public Node {
public:
    Pin(Filter& filter, ULONG pinId, const KSPIN_CONNECT& connect, const KSDATAFORMAT* format,
        PinOptions options);
    ~Pin() override;
    void* PublicObject() override { return &ks_; }
    static Pin* FromKs(PKSPIN pin, const char* call);

    PKSPIN ks() { return &ks_; }
    Filter& filter() { return filter_; }
    PFILE_OBJECT fileObject() { return &file_; }

    // Creation: the data format checked against the descriptor's ranges and the driver's
    // SetDataFormat, then the Create dispatch. Called with the filter's control mutex held.
    NTSTATUS Create();
    // Steps down to STOP, then the Close dispatch. Called with the control mutex held.
    void Close();

    // Moves the pin to `target` one state at a time, calling SetDeviceState for each step; stops
    // at the first step the driver refuses and returns its status.
    NTSTATUS SetState(KSSTATE target);
    KSSTATE State();
    // A new data format on the connected pin (KSPROPERTY_CONNECTION_DATAFORMAT).
    NTSTATUS SetFormat(const KSDATAFORMAT* format, ULONG length);
    NTSTATUS Property(const void* property, ULONG propertyLength, void* data, ULONG dataLength,
                      ULONG_PTR* information);

    // The client's frames (IOCTL_KS_READ_STREAM): the header's Size, FrameExtent and Data
    // describe the client's memory. Refused in the STOP state.
    NTSTATUS QueueFrame(PKSSTREAM_HEADER header);
    size_t QueuedFrames();

    // The class driver's side of the driver's calls.
    void AttemptProcessing();
    PKSSTREAM_POINTER LeadingEdge(KSSTREAM_POINTER_STATE state);
    void Unlock(PKSSTREAM_POINTER pointer, bool eject);
    NTSTATUS ReferenceClock(PIKSREFERENCECLOCK* clock);
    static Pin* FromStreamPointer(PKSSTREAM_POINTER pointer);
    // Checks a _KsEdit of one of the pin's tables; false when it must not go ahead.
    bool CheckEdit(PVOID* pointerToPointer, PVOID item, ULONG oldSize);

    // Process calls made so far (for tests of the flags).
    uint64_t ProcessCalls() const { return processCalls_.load(); }
    // Waits until no Process call is running or requested.
    void WaitProcessingIdle();

private:
    NTSTATUS Step(KSSTATE to);
    bool ProcessingAllowedLocked() const;
    void RequestProcessingLocked();
    void ProcessLoop();
    void StopWorker();
    void FlushQueue();
    void CheckProcessContext(const char* call);
    const KSDATARANGE* MatchRange(const KSDATAFORMAT* format) const;
    NTSTATUS CallSetDataFormat(const KSDATAFORMAT* newFormat, PKSDATAFORMAT oldFormat);

    Filter& filter_;
    KSPIN ks_{};
    ObjectBag bag_;
    FILE_OBJECT file_{};
    std::vector<uint64_t> format_; // the connection format, 8-byte aligned
    PinOptions options_;
    std::unique_ptr<PinClockReference> clockReference_;

    // Queue, stream pointer and processing state.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<PKSSTREAM_HEADER> queue_;
    KSSTREAM_POINTER leadingEdge_{};
    bool leadingEdgeLocked_ = false;
    KSSTATE state_ = KSSTATE_STOP; // mirrors ks_.DeviceState for the worker
    bool requested_ = false;
    bool processing_ = false;
    bool exiting_ = false;
    std::thread::id processThread_;
    // Held around every Process call, as the platform holds the pin's processing mutex.
    KMUTEX processingMutex_{};
    std::thread worker_;
    std::atomic<uint64_t> processCalls_{0};
    ULONG flags_ = 0; // the descriptor's flags, fixed once the pin exists
    bool created_ = false;
};

// Compares a data format with a range the way the class driver does before it asks the
// driver: major format, sub-format and specifier, each matching or a wildcard in the range.
bool FormatMatchesRange(const KSDATAFORMAT& format, const KSDATARANGE& range);

} // namespace sim::ks
