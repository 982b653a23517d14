// Devices: Plug and Play (Add, Start, Stop, removal, capabilities), the device mutex, filter
// factories.
#include "sim/ks/class_driver.h"

#include <type_traits>

namespace sim::ks {

template <typename Handler>
NTSTATUS Device::CallPnpDispatch(Handler KSDEVICE_DISPATCH::*handler, UCHAR minor,
                                 const char* what) {
    const KSDEVICE_DISPATCH* dispatch = Dispatch();
    if (dispatch == nullptr || dispatch->*handler == nullptr) {
        return STATUS_SUCCESS;
    }
    RequestIrp irp(fdo_, IRP_MJ_PNP, minor, nullptr);
    DriverCall call(what);
    if constexpr (std::is_same_v<Handler, PFNKSDEVICEIRPVOID>) {
        (dispatch->*handler)(&ks_, irp.get());
        return STATUS_SUCCESS;
    } else {
        return (dispatch->*handler)(&ks_, irp.get());
    }
}

Device::Device(DriverImage& image, PDEVICE_OBJECT physicalDevice)
    : Node(Kind::Device, this, nullptr), image_(image), bag_("device of " + image.name()),
      pdo_(physicalDevice) {
    KeInitializeMutex(&mutex_, 0);
    sim::lock_order::Name(&mutex_, "device mutex");
}

Device::~Device() {
    if (pnpState_ != PnpState::Removed) {
        Remove();
    }
    sim::lock_order::ForgetRange(&mutex_, sizeof mutex_);
}

Device* Device::FromKs(PKSDEVICE device, const char* call) {
    Node* node = Node::Find(device);
    if (node == nullptr || node->kind() != Kind::Device) {
        VerifierFail("%s with %p, which is no kernel streaming device", call,
                     static_cast<void*>(device));
        return nullptr;
    }
    return static_cast<Device*>(node);
}

Device* Device::FromFunctionalDeviceObject(PDEVICE_OBJECT fdo) {
    if (fdo == nullptr || DriverImage::FromDriverObject(fdo->DriverObject) == nullptr ||
        fdo->DeviceExtension == nullptr) {
        return nullptr;
    }
    auto* device = *static_cast<Device**>(fdo->DeviceExtension);
    Node* node = Node::Find(device != nullptr ? device->ks() : nullptr);
    return node == device ? device : nullptr;
}

NTSTATUS Device::Add() {
    NTSTATUS status = IoCreateDevice(image_.driverObject(), sizeof(Device*), nullptr,
                                     FILE_DEVICE_KS, FILE_DEVICE_SECURE_OPEN, FALSE, &fdo_);
    if (!NT_SUCCESS(status)) {
        pnpState_ = PnpState::Removed;
        image_.DeviceGone();
        return status;
    }
    *static_cast<Device**>(fdo_->DeviceExtension) = this;
    PDEVICE_OBJECT next = IoAttachDeviceToDeviceStack(fdo_, pdo_);
    if (next == nullptr) {
        IoDeleteDevice(fdo_);
        fdo_ = nullptr;
        pnpState_ = PnpState::Removed;
        image_.DeviceGone();
        return STATUS_NO_SUCH_DEVICE;
    }
    fdo_->Flags |= DO_DIRECT_IO | DO_POWER_PAGABLE;
    fdo_->Flags &= ~DO_DEVICE_INITIALIZING;

    ks_.Descriptor = image_.descriptor();
    ks_.Bag = bag_.Handle();
    ks_.Context = nullptr;
    ks_.FunctionalDeviceObject = fdo_;
    ks_.PhysicalDeviceObject = pdo_;
    ks_.NextDeviceObject = next;
    ks_.Started = FALSE;
    ks_.SystemPowerState = PowerSystemWorking;
    ks_.DevicePowerState = PowerDeviceD0;
    Publish(&ks_);

    const KSDEVICE_DISPATCH* dispatch = Dispatch();
    if (dispatch != nullptr && dispatch->Add != nullptr) {
        DriverCall call("the device's Add dispatch");
        status = dispatch->Add(&ks_);
    }
    if (!NT_SUCCESS(status)) {
        bag_.FreeAll();
        IoDetachDevice(next);
        IoDeleteDevice(fdo_);
        fdo_ = nullptr;
        pnpState_ = PnpState::Removed;
        image_.DeviceGone();
    }
    return status;
}

NTSTATUS Device::Start() {
    if (pnpState_ == PnpState::Removed) {
        return STATUS_NO_SUCH_DEVICE;
    }
    if (pnpState_ == PnpState::Started) {
        VerifierFail("start of a device of %s that is started already", image_.name().c_str());
        return STATUS_INVALID_DEVICE_STATE;
    }
    const KSDEVICE_DISPATCH* dispatch = Dispatch();
    NTSTATUS status = STATUS_SUCCESS;
    {
        RequestIrp irp(fdo_, IRP_MJ_PNP, IRP_MN_START_DEVICE, nullptr);
        if (dispatch != nullptr && dispatch->Start != nullptr) {
            DriverCall call("the device's Start dispatch");
            status = dispatch->Start(&ks_, irp.get(), nullptr, nullptr);
        }
    }
    if (NT_SUCCESS(status) && dispatch != nullptr && dispatch->PostStart != nullptr) {
        DriverCall call("the device's PostStart dispatch");
        status = dispatch->PostStart(&ks_);
    }
    if (NT_SUCCESS(status)) {
        ks_.Started = TRUE;
        pnpState_ = PnpState::Started;
        return status;
    }
    // A start that failed is undone through the Stop dispatch, and the factories made for it go.
    CallPnpDispatch(&KSDEVICE_DISPATCH::Stop, IRP_MN_STOP_DEVICE, "the device's Stop dispatch");
    FreeFactories(true);
    pnpState_ = PnpState::Stopped;
    return status;
}

void Device::RequireNoOpenFilters(const char* what) {
    const size_t open = OpenFilters();
    if (open != 0) {
        VerifierFail("%s of a device of %s with %zu filter(s) still open; close them first", what,
                     image_.name().c_str(), open);
    }
}

void Device::Stop(bool handlesMayBeOpen) {
    if (pnpState_ != PnpState::Started) {
        VerifierFail("stop of a device of %s that is not started", image_.name().c_str());
        return;
    }
    if (!handlesMayBeOpen) {
        RequireNoOpenFilters("Stop");
    }
    query_ = Query::None;
    CallPnpDispatch(&KSDEVICE_DISPATCH::Stop, IRP_MN_STOP_DEVICE, "the device's Stop dispatch");
    ks_.Started = FALSE;
    pnpState_ = PnpState::Stopped;
    FreeFactories(true);
}

NTSTATUS Device::QueryStop() {
    if (pnpState_ != PnpState::Started) {
        VerifierFail("query-stop of a device of %s that is not started", image_.name().c_str());
        return STATUS_INVALID_DEVICE_STATE;
    }
    return AskQuery(Query::Stop, &KSDEVICE_DISPATCH::QueryStop, IRP_MN_QUERY_STOP_DEVICE,
                    "the device's QueryStop dispatch");
}

void Device::CancelStop() {
    CancelQuery(Query::Stop, &KSDEVICE_DISPATCH::CancelStop, IRP_MN_CANCEL_STOP_DEVICE,
                "the device's CancelStop dispatch");
}

NTSTATUS Device::QueryRemove() {
    if (pnpState_ == PnpState::Removed) {
        return STATUS_NO_SUCH_DEVICE;
    }
    return AskQuery(Query::Remove, &KSDEVICE_DISPATCH::QueryRemove, IRP_MN_QUERY_REMOVE_DEVICE,
                    "the device's QueryRemove dispatch");
}

void Device::CancelRemove() {
    CancelQuery(Query::Remove, &KSDEVICE_DISPATCH::CancelRemove, IRP_MN_CANCEL_REMOVE_DEVICE,
                "the device's CancelRemove dispatch");
}

template <typename Handler>
NTSTATUS Device::AskQuery(Query query, Handler KSDEVICE_DISPATCH::*handler, UCHAR minor,
                          const char* what) {
    const NTSTATUS status = CallPnpDispatch(handler, minor, what);
    if (NT_SUCCESS(status)) {
        query_ = query;
    }
    return status;
}

template <typename Handler>
void Device::CancelQuery(Query query, Handler KSDEVICE_DISPATCH::*handler, UCHAR minor,
                         const char* what) {
    if (query_ != query) {
        const char* const change = query == Query::Stop ? "stop" : "remove";
        VerifierFail("cancel-%s of a device of %s without a query-%s granted", change,
                     image_.name().c_str(), change);
        return;
    }
    query_ = Query::None;
    CallPnpDispatch(handler, minor, what);
}

void Device::SurpriseRemoval() {
    if (pnpState_ == PnpState::Removed) {
        return;
    }
    CallPnpDispatch(&KSDEVICE_DISPATCH::SurpriseRemoval, IRP_MN_SURPRISE_REMOVAL,
                    "the device's SurpriseRemoval dispatch");
}

void Device::Remove() {
    if (pnpState_ == PnpState::Removed) {
        return;
    }
    RequireNoOpenFilters("Removal");
    const KSDEVICE_DISPATCH* dispatch = Dispatch();
    RequestIrp irp(fdo_, IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE, nullptr);
    if (pnpState_ == PnpState::Started) {
        if (dispatch != nullptr && dispatch->Stop != nullptr) {
            DriverCall call("the device's Stop dispatch");
            dispatch->Stop(&ks_, irp.get());
        }
        ks_.Started = FALSE;
    }
    if (dispatch != nullptr && dispatch->Remove != nullptr) {
        DriverCall call("the device's Remove dispatch");
        dispatch->Remove(&ks_, irp.get());
    }
    FreeFactories(false);
    bag_.FreeAll();
    IoDetachDevice(ks_.NextDeviceObject);
    IoDeleteDevice(fdo_);
    fdo_ = nullptr;
    pnpState_ = PnpState::Removed;
    image_.DeviceGone();
}

NTSTATUS Device::QueryCapabilities(DEVICE_CAPABILITIES* capabilities) {
    if (pnpState_ == PnpState::Removed) {
        return STATUS_NO_SUCH_DEVICE;
    }
    std::memset(capabilities, 0, sizeof *capabilities);
    capabilities->Size = sizeof *capabilities;
    capabilities->Version = 1;
    // What a USB hub reports for a function on one of its ports.
    capabilities->Removable = 1;
    capabilities->SurpriseRemovalOK = 1;
    capabilities->Address = 1;
    capabilities->UINumber = 0xFFFFFFFF;
    for (int state = PowerSystemUnspecified; state < PowerSystemMaximum; ++state) {
        capabilities->DeviceState[state] = PowerDeviceD3;
    }
    capabilities->DeviceState[PowerSystemWorking] = PowerDeviceD0;
    capabilities->DeviceState[PowerSystemUnspecified] = PowerDeviceUnspecified;
    capabilities->D3Latency = 100;

    const KSDEVICE_DISPATCH* dispatch = Dispatch();
    if (dispatch == nullptr || dispatch->QueryCapabilities == nullptr) {
        return STATUS_SUCCESS;
    }
    RequestIrp irp(fdo_, IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES, nullptr);
    irp.stack()->Parameters.DeviceCapabilities.Capabilities = capabilities;
    DriverCall call("the device's QueryCapabilities dispatch");
    return dispatch->QueryCapabilities(&ks_, irp.get(), capabilities);
}

std::vector<FilterFactory*> Device::Factories() {
    std::lock_guard<std::mutex> lock(objectsMutex_);
    std::vector<FilterFactory*> factories;
    for (auto& factory : factories_) {
        factories.push_back(factory.get());
    }
    return factories;
}

size_t Device::OpenFilters() {
    std::lock_guard<std::mutex> lock(objectsMutex_);
    size_t open = 0;
    for (auto& factory : factories_) {
        open += factory->filters().size();
    }
    return open;
}

NTSTATUS Device::CreateFactory(const KSFILTER_DESCRIPTOR* descriptor, PWSTR refString,
                               ULONG createItemFlags, PKSFILTERFACTORY* factory) {
    if (factory != nullptr) {
        *factory = nullptr;
    }
    if (descriptor == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (descriptor->PinDescriptorsCount > 0 &&
        (descriptor->PinDescriptors == nullptr ||
         descriptor->PinDescriptorSize < sizeof(KSPIN_DESCRIPTOR_EX))) {
        VerifierFail("KsCreateFilterFactory: filter descriptor with %u pin(s) of %u bytes each; "
                     "a KSPIN_DESCRIPTOR_EX has %zu",
                     descriptor->PinDescriptorsCount, descriptor->PinDescriptorSize,
                     sizeof(KSPIN_DESCRIPTOR_EX));
        return STATUS_INVALID_PARAMETER;
    }
    PVOID cost = ExAllocatePoolWithTag(NonPagedPool, 64, kClassDriverTag);
    if (cost == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    auto created =
        std::make_unique<FilterFactory>(*this, descriptor, refString, createItemFlags, cost);
    if (factory != nullptr) {
        *factory = created->ks();
    }
    std::lock_guard<std::mutex> lock(objectsMutex_);
    factories_.push_back(std::move(created));
    return STATUS_SUCCESS;
}

void Device::FreeFactories(bool onlyFreeOnStop) {
    std::vector<std::unique_ptr<FilterFactory>> going;
    {
        std::lock_guard<std::mutex> lock(objectsMutex_);
        for (auto it = factories_.begin(); it != factories_.end();) {
            // A factory whose filters an application still holds (a stop with handles open)
            // stays until they close.
            const bool inUse = !(*it)->filters().empty();
            if (!onlyFreeOnStop ||
                (((*it)->createItemFlags() & KSCREATE_ITEM_FREEONSTOP) && !inUse)) {
                going.push_back(std::move(*it));
                it = factories_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Destroyed without the list's lock, since their bags' release callbacks may call back, but
    // under the device mutex, as the platform frees factories.
    MutexHold hold(mutex_);
    going.clear();
}

Filter* Device::OpenFilter(FilterFactory* factory, NTSTATUS* status) {
    if (pnpState_ != PnpState::Started) {
        *status = STATUS_DEVICE_NOT_READY;
        return nullptr;
    }
    auto filter = std::make_unique<Filter>(*factory);
    {
        // The platform creates and closes filters under the device mutex.
        MutexHold hold(mutex_);
        *status = filter->Create();
    }
    if (!NT_SUCCESS(*status)) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(objectsMutex_);
    factory->filters().push_back(std::move(filter));
    return factory->filters().back().get();
}

FilterFactory::FilterFactory(Device& device, const KSFILTER_DESCRIPTOR* descriptor, PWSTR refString,
                             ULONG createItemFlags, PVOID cost)
    : Node(Kind::FilterFactory, &device, &device), bag_("filter factory"),
      refString_(refString != nullptr ? refString : L""), flags_(createItemFlags), cost_(cost) {
    ks_.FilterDescriptor = descriptor;
    ks_.Bag = bag_.Handle();
    ks_.Context = nullptr;
    Publish(&ks_);
}

FilterFactory::~FilterFactory() {
    if (!filters_.empty()) {
        VerifierFail("filter factory freed with %zu filter(s) open", filters_.size());
    }
    bag_.FreeAll();
    ExFreePoolWithTag(cost_, kClassDriverTag);
}

bool FilterFactory::HasCategory(const GUID& category) const {
    const KSFILTER_DESCRIPTOR* descriptor = ks_.FilterDescriptor;
    for (ULONG i = 0; i < descriptor->CategoriesCount; ++i) {
        if (descriptor->Categories[i] == category) {
            return true;
        }
    }
    return false;
}

} // namespace sim::ks

using sim::ks::Device;

void KsAcquireDevice(PKSDEVICE Device, const char* file, int line) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "KsAcquireDevice");
    if (auto* device = Device::FromKs(Device, "KsAcquireDevice")) {
        KeWaitForSingleObject(&device->mutex(), Executive, KernelMode, FALSE, nullptr, file, line);
    }
}

void KsReleaseDevice(PKSDEVICE Device) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "KsReleaseDevice");
    if (auto* device = Device::FromKs(Device, "KsReleaseDevice")) {
        KeReleaseMutex(&device->mutex(), FALSE);
    }
}

PKSDEVICE KsGetDeviceForDeviceObject(PDEVICE_OBJECT FunctionalDeviceObject) {
    Device* device = Device::FromFunctionalDeviceObject(FunctionalDeviceObject);
    return device != nullptr ? device->ks() : nullptr;
}

NTSTATUS KsCreateFilterFactory(PDEVICE_OBJECT DeviceObject, const KSFILTER_DESCRIPTOR* Descriptor,
                               PWSTR RefString, PSECURITY_DESCRIPTOR, ULONG CreateItemFlags,
                               PFNKSFILTERFACTORYPOWER, PFNKSFILTERFACTORYPOWER,
                               PKSFILTERFACTORY* FilterFactory) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "KsCreateFilterFactory");
    Device* device = Device::FromFunctionalDeviceObject(DeviceObject);
    if (device == nullptr) {
        sim::VerifierFail("KsCreateFilterFactory with device object %p, which is no functional "
                          "device object of a kernel streaming device",
                          static_cast<void*>(DeviceObject));
        return STATUS_INVALID_PARAMETER;
    }
    return device->CreateFactory(Descriptor, RefString, CreateItemFlags, FilterFactory);
}
