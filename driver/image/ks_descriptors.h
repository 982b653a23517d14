// The kernel streaming descriptors of a camera driver image, made from its model's data: the
// device descriptor with its dispatch, one filter with the camera settings property set, and
// one video capture pin offering the image's data range. Each camera's filter factory gets its
// own copy of the filter and pin descriptors, whose range follows that camera's region
// (CaptureOffer); the image's own stay as stored.
//
// A model describes itself with a type that has
//   static constexpr ULONG kPropertyCount;        // items of the property set, ids 0 to n - 1
//   static constexpr ULONG kPinFlags;             // KSPIN_FLAG_... of the capture pin
//   static constexpr BOOLEAN kReportsNotRemovable; // answer QueryCapabilities: not removable
//   static constexpr KS_DATARANGE_VIDEO kDataRange; // the range as stored, the full sensor
// and its image (DriverImage<Model>) hands KsDescriptors<Model>::kDevice to KsInitializeDriver.
#pragma once

#include "driver/control/camera_property_set.h"
#include "driver/core/capture_pin.h"
#include "driver/core/driver_globals.h"
#include "driver/image/device_dispatch.h"
#include "driver/image/filter_dispatch.h"
#include "driver/wdk.h"

namespace zyn {

// The capture pin flags of the models whose processing starts only when the acquisition has a
// frame, with or without client frames.
inline constexpr ULONG kProcessOnAcquiredFrames = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY |
                                                  KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING |
                                                  KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING;

// Identifiers the descriptors point at, defined here so that the image links no GUID library.
inline constexpr GUID kCameraSettingsSet = {STATIC_KSPROPSETID_CameraSettings};
inline constexpr GUID kFilterReferenceGuid = {STATICGUIDOF(KSNAME_Filter)};
inline constexpr GUID kVideoCaptureName = {STATICGUIDOF(PINNAME_VIDEO_CAPTURE)};
inline constexpr GUID kCaptureFilterCategories[] = {
    {STATICGUIDOF(KSCATEGORY_VIDEO)},
    {STATICGUIDOF(KSCATEGORY_CAPTURE)},
};

// Frames the allocator framing asks for, and the frame size it declares until the pin replaces
// both with its connection's.
constexpr ULONG kDeclaredFrames = 2;
constexpr ULONG kDeclaredFrameSize = 8192;

template <class Model> class DriverImage;

template <class Model> class KsDescriptors {
public:
    static const KSDEVICE_DESCRIPTOR kDevice;
    static const KSFILTER_DESCRIPTOR kFilter;
    static const KSPIN_DESCRIPTOR_EX kPins[1];
    static const KSAUTOMATION_TABLE kFilterAutomation;
    static const KSDEVICE_DISPATCH kDeviceDispatch;

private:
    static NTSTATUS Add(PKSDEVICE device) {
        return AddCameraDevice(device, &DriverImage<Model>::NewDevice, kFilter);
    }
    static NTSTATUS Start(PKSDEVICE device, PIRP, PCM_RESOURCE_LIST, PCM_RESOURCE_LIST) {
        return StartCameraDevice(device);
    }
    static void Stop(PKSDEVICE device, PIRP) { StopCameraDevice(device); }
    static void SurpriseRemoval(PKSDEVICE device, PIRP) { SurpriseRemoveCameraDevice(device); }

    static const KSPROPERTY_SET kPropertySets[1];
    static const PKSDATARANGE kDataRanges[1];
    static const KSALLOCATOR_FRAMING_EX kFraming;
};

template <class Model>
const KSDEVICE_DISPATCH KsDescriptors<Model>::kDeviceDispatch = {
    Add,     // Add
    Start,   // Start
    nullptr, // PostStart
    nullptr, // QueryStop
    nullptr, // CancelStop
    Stop,    // Stop
    nullptr, // QueryRemove
    nullptr, // CancelRemove
    nullptr, // Remove: the device's object bag frees the contexts
    Model::kReportsNotRemovable ? QueryCameraCapabilities : nullptr, // QueryCapabilities
    SurpriseRemoval,                                                 // SurpriseRemoval
    nullptr,                                                         // QueryPower
    nullptr,                                                         // SetPower
    nullptr,                                                         // QueryInterface
};

template <class Model>
const KSDEVICE_DESCRIPTOR KsDescriptors<Model>::kDevice = {
    &kDeviceDispatch, // Dispatch
    0,                // FilterDescriptorsCount: the factory is created at start
    nullptr,          // FilterDescriptors
    0,                // Version
};

template <class Model>
const KSPROPERTY_SET KsDescriptors<Model>::kPropertySets[1] = {{
    &kCameraSettingsSet,   // Set
    Model::kPropertyCount, // PropertiesCount: the model's ids are the first ones
    kCameraPropertyItems,  // PropertyItem
    0,                     // FastIoCount
    nullptr,               // FastIoTable
}};
static_assert(sizeof(kCameraPropertyItems) / sizeof(kCameraPropertyItems[0]) ==
                  kCameraPropertyIdCount,
              "the item table covers every id");

template <class Model>
const KSAUTOMATION_TABLE KsDescriptors<Model>::kFilterAutomation = {
    .PropertySetsCount = 1,
    .PropertyItemSize = sizeof(KSPROPERTY_ITEM),
    .PropertySets = kPropertySets,
    .MethodSetsCount = 0,
    .MethodItemSize = sizeof(KSMETHOD_ITEM),
    .MethodSets = nullptr,
    .EventSetsCount = 0,
    .EventItemSize = sizeof(KSEVENT_ITEM),
    .EventSets = nullptr,
#if !defined(ZYN_SIMULATED) && !defined(_WIN64)
    .Alignment = nullptr, // the x86 platform header pads the table to eight bytes
#endif
};

template <class Model>
const PKSDATARANGE KsDescriptors<Model>::kDataRanges[1] = {
    // Never written: cameras offer copies.
    const_cast<PKSDATARANGE>(&Model::kDataRange.DataRange),
};

template <class Model>
const KSALLOCATOR_FRAMING_EX KsDescriptors<Model>::kFraming = {
    1,         // CountItems
    0,         // PinFlags
    {1, 1, 0}, // OutputCompression: 1/1, margin 0
    0,         // PinWeight
    {{
        {STATICGUIDOF(KSMEMORY_TYPE_KERNEL_NONPAGED)}, // MemoryType
        {STATIC_GUID_NULL},                            // BusType
        0,                                             // MemoryFlags
        0,                                             // BusFlags
        KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY | KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY, // Flags
        kDeclaredFrames,                                     // Frames
        0,                                                   // FileAlignment: bytes
        0,                                                   // MemoryTypeWeight
        {0, 0xFFFFFFFF, 1},                                  // PhysicalRange
        {{kDeclaredFrameSize, kDeclaredFrameSize, 1}, 0, 0}, // FramingRange, weights
    }},
};

template <class Model>
const KSPIN_DESCRIPTOR_EX KsDescriptors<Model>::kPins[1] = {{
    &kCapturePinDispatch, // Dispatch
    nullptr,              // AutomationTable
    {
        0,                        // InterfacesCount: the standard streaming interface
        nullptr,                  // Interfaces
        0,                        // MediumsCount: the standard medium
        nullptr,                  // Mediums
        1,                        // DataRangesCount
        kDataRanges,              // DataRanges
        KSPIN_DATAFLOW_OUT,       // DataFlow
        KSPIN_COMMUNICATION_BOTH, // Communication
        &kVideoCaptureName,       // Category
        &kVideoCaptureName,       // Name
        {0},                      // no constrained data ranges
    },
    Model::kPinFlags,    // Flags
    1,                   // InstancesPossible
    1,                   // InstancesNecessary
    &kFraming,           // AllocatorFraming
    CapturePinIntersect, // IntersectHandler
}};

template <class Model>
const KSFILTER_DESCRIPTOR KsDescriptors<Model>::kFilter = {
    &kFilterDispatch,            // Dispatch
    &kFilterAutomation,          // AutomationTable
    KSFILTER_DESCRIPTOR_VERSION, // Version
    0,                           // Flags
    &kFilterReferenceGuid,       // ReferenceGuid
    1,                           // PinDescriptorsCount
    sizeof(KSPIN_DESCRIPTOR_EX), // PinDescriptorSize
    kPins,                       // PinDescriptors
    2,                           // CategoriesCount
    kCaptureFilterCategories,    // Categories: video, then capture
    0,                           // NodeDescriptorsCount
    sizeof(KSNODE_DESCRIPTOR),   // NodeDescriptorSize
    nullptr,                     // NodeDescriptors
    0,                           // ConnectionsCount
    nullptr,                     // Connections
    nullptr,                     // ComponentId
};

} // namespace zyn
