#include "driver/core/capture_pin.h"

#include "driver/core/acquisition.h"
#include "driver/core/camera_device.h"
#include "driver/core/capture_offer.h"
#include "driver/core/frame_copy.h"
#include "driver/kernel/interlocked.h"
#include "driver/pipeline/color_state.h"

namespace zyn {

namespace {

constexpr ULONG kClientFrames = 2;

ULONG NonNegative(LONG value) {
    return value > 0 ? static_cast<ULONG>(value) : 0;
}

ULONG AtMost(ULONG value, ULONG limit) {
    return value < limit ? value : limit;
}

CameraDevice* CameraOf(PVOID ksObject) {
    PKSDEVICE ksDevice = ksObject != nullptr ? KsGetDevice(ksObject) : nullptr;
    return ksDevice != nullptr ? static_cast<CameraDevice*>(ksDevice->Context) : nullptr;
}

// The range to check against: the camera's offered range as one consistent copy (a region
// change on another filter of the camera may be rewriting it), any other range as it is.
const KSDATARANGE* SteadyRange(CameraDevice* device, const KSDATARANGE* range,
                               KS_DATARANGE_VIDEO* copy) {
    if (device != nullptr && device->CopyOfferedRange(range, copy)) {
        return &copy->DataRange;
    }
    return range;
}

} // namespace

CapturePin::CapturePin(PKSPIN pin, CameraDevice* device)
    : pin_(pin), device_(device), acquisition_(device->GetAcquisition()) {}

CapturePin::~CapturePin() {
    StopStreaming();
    if (acquired_) {
        GiveUpDevice();
    }
    Close();
}

VOID CapturePin::ReleaseFromBag(PVOID pin) {
    delete static_cast<CapturePin*>(pin);
}

VOID CapturePin::AttemptProcessing() {
    KsPinAttemptProcessing(pin_, TRUE);
}

NTSTATUS CapturePin::Create(PKSPIN pin, PIRP) {
    CameraDevice* device = CameraOf(pin);
    if (device == nullptr) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    auto* capturePin = new (NonPagedPool) CapturePin(pin, device);
    if (capturePin == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    device->PinCreated();
    capturePin->counted_ = TRUE;
    const NTSTATUS status = KsAddItemToObjectBag(pin->Bag, capturePin, &CapturePin::ReleaseFromBag);
    if (!NT_SUCCESS(status)) {
        delete capturePin;
        return status;
    }
    pin->Context = capturePin;
    // The format was checked before the pin existed. Now that it holds the region, a region
    // change that came in between shows: the pin would deliver pictures of another size.
    if (const CaptureOffer* offer = device->Offer()) {
        KS_DATARANGE_VIDEO range;
        if (device->CopyOfferedRange(&offer->Range().DataRange, &range)) {
            const NTSTATUS format =
                CheckCaptureFormat(pin->ConnectionFormat, &range.DataRange, nullptr);
            if (!NT_SUCCESS(format)) {
                return format;
            }
        }
    }
    return capturePin->Initialize();
}

NTSTATUS CapturePin::Initialize() {
    CopyVideoInfo(pin_->ConnectionFormat, &videoInfo_);
    // Rows land biWidth pixels apart in the client's frames, whatever width the region has.
    stride_ = NonNegative(videoInfo_.bmiHeader.biWidth) * 4;

    // The framing becomes this pin's own: two frames of exactly the connection's image size.
    NTSTATUS status = _KsEdit(
        pin_->Bag, reinterpret_cast<PVOID*>(const_cast<PKSPIN_DESCRIPTOR_EX*>(&pin_->Descriptor)),
        sizeof(KSPIN_DESCRIPTOR_EX), sizeof(KSPIN_DESCRIPTOR_EX), kTagFrame);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* descriptor = const_cast<PKSPIN_DESCRIPTOR_EX>(pin_->Descriptor);
    if (descriptor->AllocatorFraming == nullptr) {
        return STATUS_SUCCESS;
    }
    status = _KsEdit(pin_->Bag,
                     reinterpret_cast<PVOID*>(
                         const_cast<PKSALLOCATOR_FRAMING_EX*>(&descriptor->AllocatorFraming)),
                     sizeof(KSALLOCATOR_FRAMING_EX), sizeof(KSALLOCATOR_FRAMING_EX), kTagFrame);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* framing = const_cast<PKSALLOCATOR_FRAMING_EX>(descriptor->AllocatorFraming);
    KS_FRAMING_ITEM& item = framing->FramingItem[0];
    const ULONG imageBytes = videoInfo_.bmiHeader.biSizeImage;
    item.Frames = kClientFrames;
    item.PhysicalRange.MinFrameSize = imageBytes;
    item.PhysicalRange.MaxFrameSize = imageBytes;
    item.PhysicalRange.Stepping = 0;
    item.FramingRange.Range.MinFrameSize = imageBytes;
    item.FramingRange.Range.MaxFrameSize = imageBytes;
    item.FramingRange.Range.Stepping = 0;
    return STATUS_SUCCESS;
}

VOID CapturePin::Close() {
    stride_ = 0;
    if (counted_) {
        device_->PinClosed();
        counted_ = FALSE;
    }
}

NTSTATUS CapturePin::SetDataFormat(PKSDATAFORMAT, const KSDATARANGE* range) {
    AcceptedFormat accepted;
    NTSTATUS status = CheckCaptureFormat(pin_->ConnectionFormat, range, &accepted);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    // A refused format leaves the stride of the format in use: frames keep their layout.
    if (pin_->DeviceState != KSSTATE_STOP) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    videoInfo_ = accepted.videoInfo;
    stride_ = accepted.stride;
    return STATUS_SUCCESS;
}

NTSTATUS CapturePin::SetDeviceState(KSSTATE to, KSSTATE from) {
    switch (to) {
    case KSSTATE_STOP:
        StopStreaming();
        if (acquired_) {
            GiveUpDevice();
        }
        return STATUS_SUCCESS;
    case KSSTATE_ACQUIRE:
        if (from == KSSTATE_STOP) {
            return Acquire();
        }
        StopStreaming();
        return STATUS_SUCCESS;
    case KSSTATE_PAUSE:
        if (from == KSSTATE_RUN && runState_ == 2) {
            const NTSTATUS status = acquisition_->SetPaused(TRUE);
            if (NT_SUCCESS(status)) {
                runState_ = 1;
            }
            return status;
        }
        return STATUS_SUCCESS;
    case KSSTATE_RUN:
        if (runState_ == 1) {
            const NTSTATUS status = acquisition_->SetPaused(FALSE);
            if (NT_SUCCESS(status)) {
                runState_ = 2;
            }
            return status;
        }
        return StartStreaming();
    }
    return STATUS_INVALID_PARAMETER;
}

NTSTATUS CapturePin::Acquire() {
    volatile LONG* claim = device_->ExclusiveClaim();
    if (InterlockedCompareExchange(claim, 1, 0) != 0) {
        return STATUS_SHARING_VIOLATION;
    }
    ColorState* previous = device_->GetColorState();
    device_->SetColorState(nullptr);
    delete previous;

    const KS_BITMAPINFOHEADER& bitmap = videoInfo_.bmiHeader;
    if (bitmap.biBitCount != 32 || bitmap.biCompression != KS_BI_RGB) {
        InterlockedExchange(claim, 0);
        return STATUS_INVALID_PARAMETER;
    }
    auto* colorState = new (NonPagedPool) ColorState(device_->Traits().colorState);
    if (colorState == nullptr) {
        InterlockedExchange(claim, 0);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    const CameraSettings& settings = device_->Settings();
    colorState->SetWhiteBalance(settings.WhiteBalance);
    colorState->SetBayerPhase(device_->BayerPhase());
    colorState->SetColorEnable(settings.ColorEnable);
    colorState->SetRedGain(settings.RedGain);
    colorState->SetGreenGain(settings.GreenGain);
    colorState->SetBlueGain(settings.BlueGain);
    colorState->SetColorCorrection(settings.ColorCorrection);
    colorState->SetBrightness(settings.Brightness);
    colorState->SetContrast(settings.Contrast);
    colorState->SetSaturation(settings.Saturation);
    colorState->SetHue(settings.Hue);
    if (device_->Traits().limits.dotFilter) {
        colorState->SetDotThreshold(settings.Dot != 0 ? settings.DotThreshold : 0);
    }
    device_->SetColorState(colorState);
    device_->SetOpenPin(this);
    device_->SetConnectionFormat(&videoInfo_);
    acquired_ = TRUE;
    // Without a graph clock frames carry no time.
    if (!NT_SUCCESS(KsPinGetReferenceClockInterface(pin_, &clock_))) {
        clock_ = nullptr;
    }
    return STATUS_SUCCESS;
}

NTSTATUS CapturePin::StartStreaming() {
    if (runState_ != 0) {
        return STATUS_SUCCESS;
    }
    if (acquisition_ == nullptr) {
        // The device could not create its acquisition when it started.
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ColorState* colorState = device_->GetColorState();
    if (!acquired_ || colorState == nullptr) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    device_->SetBayerPhase(device_->BaseBayerPhase());
    colorState->SetBayerPhase(device_->BayerPhase());

    const CameraSettings& settings = device_->Settings();
    rgbWidth_ = NonNegative(settings.RoiW);
    rgbHeight_ = NonNegative(settings.RoiH);
    outputWidth_ = AtMost(NonNegative(settings.OutputWidth), rgbWidth_);
    outputHeight_ = AtMost(NonNegative(settings.OutputHeight), rgbHeight_);
    undelivered_ = FALSE;
    deliveredInStream_ = 0;
    const NTSTATUS status = acquisition_->Start(colorState, rgbWidth_, rgbHeight_);
    if (NT_SUCCESS(status)) {
        runState_ = 2;
    }
    return status;
}

VOID CapturePin::StopStreaming() {
    if (runState_ != 0) {
        acquisition_->Release();
        runState_ = 0;
    }
}

VOID CapturePin::GiveUpDevice() {
    if (clock_ != nullptr) {
        clock_->Release();
        clock_ = nullptr;
    }
    ColorState* colorState = device_->GetColorState();
    device_->SetColorState(nullptr);
    delete colorState;
    device_->SetOpenPin(nullptr);
    device_->SetConnectionFormat(nullptr);
    InterlockedExchange(device_->ExclusiveClaim(), 0);
    acquired_ = FALSE;
}

NTSTATUS CapturePin::Process() {
    if (device_->Removed()) {
        ReturnQueuedFrames();
        return STATUS_PENDING;
    }
    Acquisition* acquisition = acquisition_;
    if (acquisition == nullptr || acquisition->FramesRead() == 0) {
        return STATUS_PENDING;
    }
    if (!acquisition->BeginProcessing()) {
        return STATUS_PENDING;
    }
    PKSSTREAM_POINTER streamPointer =
        KsPinGetLeadingEdgeStreamPointer(pin_, KSSTREAM_POINTER_STATE_LOCKED);
    // A waiting client frame that takes the picture whole receives the conversion directly.
    Delivery delivery = {};
    ClientRows clientRows = {};
    BOOLEAN direct = FALSE;
    if (streamPointer != nullptr) {
        delivery = PlanDelivery(streamPointer);
        direct = delivery.fits && DirectClientRows(delivery.layout, delivery.orientation,
                                                   streamPointer->OffsetOut.Data, &clientRows);
    }
    // Converted whether or not a client frame waits, so the RGB frame stays the newest.
    BOOLEAN filled = FALSE;
    if (acquisition->ConvertReady(direct ? &clientRows : nullptr, &filled)) {
        undelivered_ = TRUE;
    }
    if (streamPointer != nullptr) {
        // A client frame takes each picture once; without a new one it stays queued for the
        // next, rather than coming back at once with a picture the client already has.
        const BOOLEAN complete = undelivered_;
        if (complete && Deliver(streamPointer, delivery, filled)) {
            undelivered_ = FALSE;
        }
        KsStreamPointerUnlock(streamPointer, complete);
    }
    acquisition->ProcessingDone();
    return STATUS_PENDING;
}

VOID CapturePin::ReturnQueuedFrames() {
    while (PKSSTREAM_POINTER streamPointer =
               KsPinGetLeadingEdgeStreamPointer(pin_, KSSTREAM_POINTER_STATE_LOCKED)) {
        streamPointer->StreamHeader->DataUsed = 0;
        KsStreamPointerUnlock(streamPointer, TRUE);
    }
}

CapturePin::Delivery CapturePin::PlanDelivery(PKSSTREAM_POINTER streamPointer) const {
    Delivery delivery = {};
    delivery.layout = {rgbWidth_, rgbHeight_, outputWidth_, outputHeight_, stride_};
    const ULONG available = streamPointer->OffsetOut.Remaining;
    // A frame too small for the picture goes back empty rather than overrun.
    delivery.fits = acquisition_->RgbFrame() != nullptr &&
                    ClientFrameExtent(delivery.layout) <= available &&
                    videoInfo_.bmiHeader.biSizeImage <= available;
    delivery.orientation = {FALSE, FALSE};
    if (!device_->Traits().sensorFlips) {
        CameraSettings& settings = device_->Settings();
        delivery.orientation.topDown = ReadInterlocked(&settings.FlipV) != 0;
        delivery.orientation.mirror = ReadInterlocked(&settings.FlipH) != 0;
    }
    return delivery;
}

BOOLEAN CapturePin::Deliver(PKSSTREAM_POINTER streamPointer, const Delivery& delivery,
                            BOOLEAN filled) {
    PKSSTREAM_HEADER header = streamPointer->StreamHeader;
    header->Duration = videoInfo_.AvgTimePerFrame;
    header->PresentationTime.Numerator = 1;
    header->PresentationTime.Denominator = 1;
    if (clock_ != nullptr) {
        header->PresentationTime.Time = clock_->GetTime();
        header->OptionsFlags =
            KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID;
    } else {
        header->PresentationTime.Time = 0;
    }

    const ULONG imageBytes = videoInfo_.bmiHeader.biSizeImage;
    if (!delivery.fits) {
        header->DataUsed = 0;
        InterlockedIncrement(&framesTooSmall_);
        return FALSE;
    }
    if (!filled) {
        CopyFrameToClient(acquisition_->RgbFrame(), delivery.layout, delivery.orientation,
                          streamPointer->OffsetOut.Data);
    }
    header->DataUsed = imageBytes;
    InterlockedIncrement(&framesDelivered_);
    ++deliveredInStream_;
    // Each raw frame is delivered at most once, so every raw frame up to this one that was
    // not delivered was overwritten before its conversion or found no client frame queued.
    if (header->Size >= sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO)) {
        const ULONG number = acquisition_->ConvertedFrameNumber();
        auto* info = reinterpret_cast<PKS_FRAME_INFO>(header + 1);
        info->ExtendedHeaderSize = sizeof(KS_FRAME_INFO);
        info->PictureNumber = number;
        info->DropCount = number - deliveredInStream_;
    }
    return TRUE;
}

VOID CapturePin::GetCounters(CapturePinCounters* counters) const {
    counters->framesDelivered = static_cast<ULONG>(ReadInterlocked(&framesDelivered_));
    counters->framesTooSmall = static_cast<ULONG>(ReadInterlocked(&framesTooSmall_));
}

namespace {

NTSTATUS PinCreate(PKSPIN pin, PIRP irp) {
    return CapturePin::Create(pin, irp);
}

NTSTATUS PinClose(PKSPIN pin, PIRP) {
    CapturePin::FromPin(pin)->Close();
    return STATUS_SUCCESS;
}

NTSTATUS PinProcess(PKSPIN pin) {
    return CapturePin::FromPin(pin)->Process();
}

NTSTATUS PinSetDataFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PKSMULTIPLE_ITEM,
                          const KSDATARANGE* range, const KSATTRIBUTE_LIST*) {
    KS_DATARANGE_VIDEO copy;
    range = SteadyRange(CameraOf(pin), range, &copy);
    // Before Create the format is only checked: the pin has no context of its own yet.
    if (oldFormat == nullptr) {
        return CheckCaptureFormat(pin->ConnectionFormat, range, nullptr);
    }
    return CapturePin::FromPin(pin)->SetDataFormat(oldFormat, range);
}

NTSTATUS PinSetDeviceState(PKSPIN pin, KSSTATE to, KSSTATE from) {
    return CapturePin::FromPin(pin)->SetDeviceState(to, from);
}

} // namespace

NTSTATUS CapturePinIntersect(PVOID context, PIRP, PKSP_PIN, PKSDATARANGE callerRange,
                             PKSDATARANGE descriptorRange, ULONG bufferSize, PVOID data,
                             PULONG dataSize) {
    KS_DATARANGE_VIDEO copy;
    return IntersectCaptureFormat(callerRange,
                                  SteadyRange(CameraOf(context), descriptorRange, &copy),
                                  bufferSize, data, dataSize);
}

const KSPIN_DISPATCH kCapturePinDispatch = {
    PinCreate,         // Create
    PinClose,          // Close
    PinProcess,        // Process
    nullptr,           // Reset
    PinSetDataFormat,  // SetDataFormat
    PinSetDeviceState, // SetDeviceState
    nullptr,           // Connect
    nullptr,           // Disconnect
    nullptr,           // Clock
    nullptr,           // Allocator
};

} // namespace zyn
