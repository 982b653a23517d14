// A small video capture minidriver for testing the class driver and the application side: one
// device, one filter factory, a filter with a property set of a few items, and one capture pin
// with a 64 x 48 RGB32 range. Every dispatch call is logged in order; knobs make it fail or
// misbehave where a test needs that. Its state is global, as a driver image's is: call Reset()
// before each test.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "driver/wdk.h"

namespace fake {

// {8E4F2D6A-4C1B-4E8A-9F3D-2B7A6C5D4E10}
inline constexpr GUID kPropertySet = {
    0x8e4f2d6a, 0x4c1b, 0x4e8a, {0x9f, 0x3d, 0x2b, 0x7a, 0x6c, 0x5d, 0x4e, 0x10}};

// Items of kPropertySet.
enum PropertyId : ULONG {
    kValue = 0,        // GET and SET, a ULONG stored in the device context
    kGetOnly = 1,      // GET, 8 bytes: the filter's creation number and 0xC0FFEE
    kSetOnly = 2,      // SET, a ULONG
    kInstanceEcho = 3, // GET, property KSPROPERTY + 8 bytes of instance data echoed as data
    kOverclaim = 4,    // GET that reports more bytes than the client's buffer holds
    kOverrun = 5,      // GET that writes one byte past MinData into a MinData-sized buffer
};

constexpr LONG kWidth = 64;
constexpr LONG kHeight = 48;
constexpr ULONG kImageBytes = kWidth * kHeight * 4;
constexpr ULONG kEditTag = sim::pool::Tag("GNQh");
constexpr ULONG kContextTag = sim::pool::Tag("KCNw");

struct Config {
    NTSTATUS entryStatus = STATUS_SUCCESS;
    NTSTATUS addStatus = STATUS_SUCCESS;   // Add fails after putting its context in the bag
    NTSTATUS startStatus = STATUS_SUCCESS; // Start fails after creating its factory
    bool clearRemovable = false;           // QueryCapabilities
    ULONG pinFlags = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY;
    ULONG instancesPossible = 1;
    NTSTATUS acquireStatus = STATUS_SUCCESS; // SetDeviceState STOP to ACQUIRE
    bool leakPinContext = false;             // the pin's context is allocated but never bagged
    bool addTwice = false;                   // filter Create adds its context to the bag twice
    bool editWrongSize = false;              // pin Create edits the framing with a wrong size
    bool unlockTwice = false;                // Process unlocks the stream pointer twice
    // Replaces the Process routine's body when set.
    std::function<NTSTATUS(PKSPIN)> process;
    // Run inside the pin's Create and Close dispatches when set.
    std::function<void(PKSPIN)> onPinCreate;
    std::function<void(PKSPIN)> onPinClose;
};

Config& config();
void Reset();

// Dispatch calls in order: "Add", "Start", "Stop", "FilterCreate 1", "PinSetDeviceState 0>1",
// "Process", "DeviceContextFreed", ...
std::vector<std::string> Log();
void ClearLog();
bool Logged(const std::string& entry);

// The device context the driver keeps for each device.
struct DeviceContext {
    PKSDEVICE device;
    ULONG value;
    ULONG setOnly;
    ULONG filtersCreated;
};

// The pin's clock as the driver last obtained it at ACQUIRE (null: none).
PIKSREFERENCECLOCK PinClock();
// Frames the default Process delivered, and the calls it got without a frame.
uint64_t FramesDelivered();
uint64_t EmptyProcessCalls();

// The driver's entry point, for sim::ks::DriverImage::Load.
NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

// The data range the pin offers.
const KS_DATARANGE_VIDEO& DataRange();

} // namespace fake
