#include "sim/host/capture_session.h"

#include <cstdlib>
#include <cstring>

#include "driver/core/acquisition.h"
#include "sim/wdk/registry.h"

namespace zyn::capture {

namespace {

std::string Failed(const char* what, NTSTATUS status) {
    return std::string(what) + ": " + sim::StatusName(status);
}

} // namespace

std::unique_ptr<CaptureSession> CaptureSession::Open(const SessionOptions& options,
                                                     std::string* error) {
    const host::DriverModel* model = host::FindDriverModel(options.model);
    if (model == nullptr) {
        *error =
            "no driver for model '" + options.model + "' (built: " + host::DriverModelNames() + ")";
        return nullptr;
    }
    std::unique_ptr<CaptureSession> session(new CaptureSession);
    session->clientFrames_ = options.clientFrames;
    session->referenceClock_ = options.referenceClock;
    sim::camera::CameraOptions camera;
    camera.frameInterval = options.frameInterval;
    session->system_ = std::make_unique<sim::host::CameraSystem>(model->camera, model->entry,
                                                                 camera, options.driver);
    if (!NT_SUCCESS(session->system_->loadStatus())) {
        *error = Failed("the driver did not load", session->system_->loadStatus());
        return nullptr;
    }
    if (options.scene != nullptr) {
        session->camera().SetScene(*options.scene);
    }
    sim::registry::BindDriverKey(session->system_->physicalDevice(), options.driverKey);
    NTSTATUS status = session->system_->Start();
    if (!NT_SUCCESS(status)) {
        *error = Failed("the camera did not start", status);
        return nullptr;
    }
    session->filter_ = session->system_->OpenFilter(&status);
    if (session->filter_ == nullptr) {
        *error = Failed("the capture filter did not open", status);
        return nullptr;
    }
    return session;
}

CaptureSession::~CaptureSession() {
    Close();
}

CameraDevice& CaptureSession::device() {
    return *static_cast<CameraDevice*>(system_->device()->context());
}

CapturePin& CaptureSession::capturePin() {
    return *static_cast<CapturePin*>(pin_->context());
}

NTSTATUS CaptureSession::CreatePin() {
    KS_DATARANGE_VIDEO range{};
    NTSTATUS status = filter_->VideoRange(0, &range);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    format_ = filter_->IntersectFormat(0, range.DataRange, &status);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    sim::host::PinSettings settings;
    settings.referenceClock = referenceClock_;
    pin_ = filter_->CreatePin(0, format_, settings, &status);
    if (pin_ == nullptr) {
        return status;
    }
    std::memcpy(&videoInfo_, format_.data() + sizeof(KSDATAFORMAT),
                std::min(sizeof videoInfo_, format_.size() - sizeof(KSDATAFORMAT)));
    timeoutsAtStart_ = device().Transport().ReadTimeouts();
    return STATUS_SUCCESS;
}

NTSTATUS CaptureSession::SetState(KSSTATE state) {
    const KSSTATE before = pin_->State();
    const NTSTATUS status = pin_->SetState(state);
    // Client frames go in once the pin takes them (from ACQUIRE on), and again after a stop
    // handed them back.
    if (NT_SUCCESS(status) && state != KSSTATE_STOP && before == KSSTATE_STOP) {
        while (std::unique_ptr<sim::host::Frame> frame = pin_->TakeFrame()) {
            (void)frame; // cancelled by the stop
        }
        for (unsigned i = 0; i < clientFrames_; ++i) {
            const NTSTATUS queued = pin_->Queue(std::make_unique<sim::host::Frame>(imageBytes()));
            if (queued != STATUS_PENDING) {
                return queued;
            }
        }
    }
    return status;
}

std::unique_ptr<sim::host::Frame> CaptureSession::NextFrame(std::chrono::milliseconds timeout) {
    return pin_->WaitFrame(timeout);
}

NTSTATUS CaptureSession::Requeue(std::unique_ptr<sim::host::Frame> frame) {
    frame->Reset();
    return pin_->Queue(std::move(frame));
}

void CaptureSession::ClosePin() {
    if (pin_ == nullptr) {
        return;
    }
    (void)pin_->SetState(KSSTATE_STOP);
    while (pin_->TakeFrame() != nullptr) {
    }
    pin_.reset();
}

void CaptureSession::Close() {
    ClosePin();
    filter_.reset();
    if (system_ != nullptr) {
        if (system_->device() != nullptr) {
            system_->Stop();
            system_->Remove();
        }
        sim::registry::UnbindDevice(system_->physicalDevice());
        system_.reset();
    }
}

NTSTATUS CaptureSession::ReopenFilter() {
    ClosePin();
    filter_.reset();
    if (system_->device() == nullptr) {
        return STATUS_NO_SUCH_DEVICE; // removed, and not plugged in again
    }
    NTSTATUS status = STATUS_SUCCESS;
    filter_ = system_->OpenFilter(&status);
    return status;
}

NTSTATUS CaptureSession::RestartDevice() {
    ClosePin();
    filter_.reset();
    if (system_->device() == nullptr) {
        return STATUS_NO_SUCH_DEVICE;
    }
    system_->Stop();
    NTSTATUS status = system_->Start();
    if (NT_SUCCESS(status)) {
        filter_ = system_->OpenFilter(&status);
    }
    return status;
}

StreamCounters CaptureSession::Counters() {
    StreamCounters counters;
    if (pin_ == nullptr) {
        return counters;
    }
    CapturePinCounters pinCounters{};
    capturePin().GetCounters(&pinCounters);
    counters.framesDelivered = pinCounters.framesDelivered;
    if (Acquisition* acquisition = capturePin().GetAcquisition()) {
        AcquisitionCounters acquired{};
        acquisition->GetCounters(&acquired);
        counters.framesRead = acquired.framesRead;
        counters.readFailures = acquired.readFailures;
        counters.framesConverted = acquired.framesConverted;
        counters.framesDropped = acquired.framesDropped;
        if (acquired.framesConverted > 0) {
            counters.meanConversionMs = acquired.conversionTime / 1e4 / acquired.framesConverted;
        }
    }
    counters.readTimeouts = device().Transport().ReadTimeouts() - timeoutsAtStart_;
    return counters;
}

NTSTATUS CaptureSession::Replug() {
    system_->Unplug();
    ClosePin();
    filter_.reset();
    system_->Remove();
    NTSTATUS status = system_->Replug();
    if (!NT_SUCCESS(status)) {
        return status;
    }
    filter_ = system_->OpenFilter(&status);
    return status;
}

imaging::RgbImage PictureFromFrame(const uint8_t* data, const KS_VIDEOINFOHEADER& videoInfo) {
    const int width = videoInfo.bmiHeader.biWidth;
    const int height = std::abs(videoInfo.bmiHeader.biHeight);
    const bool bottomUp = videoInfo.bmiHeader.biHeight > 0;
    imaging::RgbImage picture(width, height);
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = data + (bottomUp ? height - 1 - y : y) * stride;
        for (int x = 0; x < width; ++x) {
            uint8_t* rgb = picture.At(x, y);
            rgb[0] = row[x * 4 + 2];
            rgb[1] = row[x * 4 + 1];
            rgb[2] = row[x * 4 + 0];
        }
    }
    return picture;
}

} // namespace zyn::capture
