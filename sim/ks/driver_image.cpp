// Driver images: load through DriverEntry, KsInitializeDriver, AddDevice, unload with the leak
// report.
#include <unordered_map>

#include "sim/ks/class_driver.h"

namespace sim::ks {
namespace {

struct Images {
    std::mutex mutex;
    std::unordered_map<PDRIVER_OBJECT, DriverImage*> byDriver;
    // Leaks are reported when the last image unloads, from the moment the first of the images
    // loaded since then was loaded: with several images alive, a block cannot be told apart.
    int loaded = 0;
    uint64_t poolMark = 0;
    uint64_t objectMark = 0;
    std::string names;
};

Images& TheImages() {
    static auto* images = new Images;
    return *images;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

} // namespace

DriverImage::DriverImage(const std::wstring& serviceName)
    : name_(Narrow(serviceName)),
      registryPath_(L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + serviceName) {
    registryPathString_.Buffer = registryPath_.data();
    registryPathString_.Length = static_cast<USHORT>(registryPath_.size() * sizeof(WCHAR));
    registryPathString_.MaximumLength = registryPathString_.Length;
}

std::unique_ptr<DriverImage> DriverImage::Load(const std::wstring& serviceName,
                                               DriverEntryRoutine entry, NTSTATUS* status) {
    Images& images = TheImages();
    {
        std::lock_guard<std::mutex> lock(images.mutex);
        if (images.loaded++ == 0) {
            images.poolMark = sim::pool::Mark();
            images.objectMark = sim::objects::Mark();
            images.names.clear();
        }
    }
    std::unique_ptr<DriverImage> image(new DriverImage(serviceName));
    image->driver_ = sim::CreateDriverObject(serviceName.c_str());
    if (image->driver_ == nullptr) {
        // The I/O manager had no memory for the driver object: the image never runs.
        if (status != nullptr) {
            *status = STATUS_INSUFFICIENT_RESOURCES;
        }
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(images.mutex);
        images.byDriver[image->driver_] = image.get();
        if (!images.names.empty()) {
            images.names += ", ";
        }
        images.names += image->name_;
    }
    NTSTATUS result;
    {
        DriverCall call("DriverEntry");
        result = entry(image->driver_, &image->registryPathString_);
    }
    if (status != nullptr) {
        *status = result;
    }
    if (!NT_SUCCESS(result)) {
        return nullptr; // unloads
    }
    if (!image->initialized_) {
        VerifierFail("DriverEntry of %s succeeded without calling KsInitializeDriver",
                     image->name_.c_str());
    }
    return image;
}

DriverImage::~DriverImage() {
    if (devices_.load() != 0) {
        VerifierFail("driver image %s unloaded with %d device(s) not removed", name_.c_str(),
                     devices_.load());
    }
    if (driver_ != nullptr && driver_->DriverUnload != nullptr) {
        DriverCall call("DriverUnload");
        driver_->DriverUnload(driver_);
    }
    Images& images = TheImages();
    uint64_t poolMark = 0;
    uint64_t objectMark = 0;
    bool last;
    std::string names;
    {
        std::lock_guard<std::mutex> lock(images.mutex);
        images.byDriver.erase(driver_);
        last = --images.loaded == 0;
        poolMark = images.poolMark;
        objectMark = images.objectMark;
        names = images.names;
    }
    if (driver_ != nullptr) {
        sim::DeleteDriverObject(driver_);
    }
    if (last) {
        const std::string context = "driver image(s) " + names + " unloaded";
        sim::objects::ReportLeaksSince(objectMark, context.c_str());
        sim::pool::ReportLeaksSince(poolMark, context.c_str());
    }
}

DriverImage* DriverImage::FromDriverObject(PDRIVER_OBJECT driver) {
    Images& images = TheImages();
    std::lock_guard<std::mutex> lock(images.mutex);
    auto it = images.byDriver.find(driver);
    return it == images.byDriver.end() ? nullptr : it->second;
}

void DriverImage::Initialize(const KSDEVICE_DESCRIPTOR* descriptor) {
    descriptor_ = descriptor;
    initialized_ = true;
}

std::unique_ptr<Device> DriverImage::AddDevice(PDEVICE_OBJECT physicalDevice, NTSTATUS* status) {
    std::unique_ptr<Device> device(new Device(*this, physicalDevice));
    ++devices_;
    const NTSTATUS result = device->Add();
    if (status != nullptr) {
        *status = result;
    }
    if (!NT_SUCCESS(result)) {
        return nullptr; // Add has undone everything
    }
    return device;
}

} // namespace sim::ks

NTSTATUS KsInitializeDriver(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPathName,
                            const KSDEVICE_DESCRIPTOR* Descriptor) {
    sim::CheckIrqlIs(PASSIVE_LEVEL, "KsInitializeDriver");
    sim::ks::DriverImage* image = sim::ks::DriverImage::FromDriverObject(DriverObject);
    if (image == nullptr) {
        sim::VerifierFail("KsInitializeDriver with driver object %p, which no image loading now "
                          "owns",
                          static_cast<void*>(DriverObject));
        return STATUS_INVALID_PARAMETER;
    }
    if (RegistryPathName == nullptr || RegistryPathName->Buffer == nullptr) {
        sim::VerifierFail("KsInitializeDriver of %s without the registry path DriverEntry was "
                          "given",
                          image->name().c_str());
    }
    if (image->initialized()) {
        sim::VerifierFail("KsInitializeDriver called twice by %s", image->name().c_str());
        return STATUS_INVALID_PARAMETER;
    }
    image->Initialize(Descriptor);
    return STATUS_SUCCESS;
}
