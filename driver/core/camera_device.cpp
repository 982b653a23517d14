#include "driver/core/camera_device.h"

#include "driver/core/acquisition.h"
#include "driver/core/capture_offer.h"
#include "driver/core/capture_pin.h"
#include "driver/protocol/command_codes.h"

namespace zyn {

CameraDevice::CameraDevice(struct _KSDEVICE* device, const CameraModelTraits& traits,
                           DriverGlobals& globals)
    : device_(device), commands_(transport_), baseBayerPhase_(traits.baseBayerPhase),
      traits_(traits), globals_(globals) {
    KeInitializeMutex(&colorStateLock_, 0);
    KeInitializeSpinLock(&formatLock_);
    settings_.SetCreationValues(traits.limits);
    bayerPhase_ = baseBayerPhase_;
    transport_.SetKeepChunkRecords(traits.keepChunkRecords);
}

// The device's filter factories are gone before its context: kernel streaming frees them
// first at removal.
CameraDevice::~CameraDevice() {
    delete offer_;
}

BOOLEAN CameraDevice::CopyOfferedRange(const KSDATARANGE* range, KS_DATARANGE_VIDEO* copy) {
    if (offer_ == nullptr || !offer_->Offers(range)) {
        return FALSE;
    }
    SpinLockGuard hold(&formatLock_);
    *copy = offer_->Range();
    return TRUE;
}

VOID CameraDevice::SetColorState(ColorState* colorState) {
    MutexGuard hold(&colorStateLock_);
    colorState_ = colorState;
}

VOID CameraDevice::NotifyFrame() {
    // The pin registers itself while acquired, before the acquisition thread starts.
    if (openPin_ != nullptr) {
        openPin_->AttemptProcessing();
    }
}

NTSTATUS CameraDevice::StartCapture(ColorState*, ULONG, ULONG) {
    return STATUS_NOT_SUPPORTED;
}

VOID CameraDevice::InitSensor() {
    InitializationDone();
}

BOOLEAN CameraDevice::setFlipH(LONG flag) {
    InterlockedExchange(&settings_.FlipH, flag);
    return TRUE;
}

BOOLEAN CameraDevice::setFlipV(LONG flag) {
    InterlockedExchange(&settings_.FlipV, flag);
    return TRUE;
}

NTSTATUS CameraDevice::PrepareAtDeviceStart() {
    return STATUS_SUCCESS;
}
VOID CameraDevice::PrepareForReload() {}

BOOLEAN CameraDevice::ReadRawFrame(PUCHAR buffer) {
    const ULONG size = rawFrameSize_;
    lastReadFailedFast_ = TRUE;
    if (buffer == nullptr || size == 0) {
        return FALSE;
    }
    // A stop has begun: nothing more goes to the camera for this stream.
    if (transport_.ReadsHalted()) {
        return FALSE;
    }
    // Whether the request went out shows in the read: without it no frame comes. Marked so
    // that a stop also aborts a request the camera does not take.
    transport_.MarkPipeForAbort(kCommandPipe);
    framePacket_ = packets::FrameRequest();
    ULONG transferred = 0;
    (VOID) transport_.PipeTransfer(kCommandPipe, kCommandPacketSize, &framePacket_, &transferred);
    // STATUS_TIMEOUT counts as a success status; only a whole frame is one.
    const NTSTATUS status = transport_.SplitBulkRead(kDataPipe, size, buffer, globals_.Timeout());
    lastReadFailedFast_ = !NT_SUCCESS(status);
    return status == STATUS_SUCCESS;
}

NTSTATUS CameraDevice::CompleteCameraStart(ColorState* colorState, BOOLEAN started) {
    started = commands_.Send(packets::StartControl()) && started;
    writeBoardRegister(board::kStartMode, 0);
    // Settings applied before the start went to a sensor that the start has since reset.
    const CameraSettings& settings = settings_;
    setExternalTrigger(settings.ExTrigger);
    setExposure(settings.Exposure);
    setGain(settings.GlobalGain);
    SetBayerPhase(BaseBayerPhase());
    if (colorState != nullptr) {
        colorState->SetBayerPhase(BayerPhase());
    }
    return started ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS CameraDevice::AbortPipes() {
    return transport_.AbortPipes();
}

VOID CameraDevice::CancelReads() {
    transport_.CancelReads();
}

VOID CameraDevice::HaltReads() {
    transport_.HaltReads();
}

VOID CameraDevice::EndStreaming() {
    if (acquisition_ != nullptr) {
        acquisition_->Release();
    }
}

VOID CameraDevice::ResumeReads() {
    transport_.ResumeReads();
}

VOID CameraDevice::SetRawFrameGeometry(ULONG offset, ULONG pitch, ULONG size) {
    // The acquisition thread reads these while it streams. The region is locked then, so a
    // camera restart during a stream (Plover's clock change) programs the same geometry: leave
    // the fields alone rather than write them under the reader.
    if (offset == rawFrameOffset_ && pitch == rawFramePitch_ && size == rawFrameSize_) {
        return;
    }
    rawFrameOffset_ = offset;
    rawFramePitch_ = pitch;
    rawFrameSize_ = size;
}

BOOLEAN CameraDevice::writeBoardRegister(UCHAR reg, UCHAR value) {
    return commands_.Send(packets::BoardWrite(reg, value));
}

BOOLEAN CameraDevice::readBoardRegister(UCHAR reg, PUCHAR value) {
    return commands_.Query(packets::BoardRead(reg), value);
}

BOOLEAN CameraDevice::sendRawCommand(LONG length, const UCHAR* bytes) {
    return commands_.Send(packets::Raw(length, bytes));
}

NTSTATUS CameraDevice::readMemoryByteStatus(USHORT address, PUCHAR value) {
    return commands_.QueryStatus(packets::MemoryRead(address), value);
}

BOOLEAN CameraDevice::readMemoryByte(USHORT address, PUCHAR value) {
    return commands_.Query(packets::MemoryRead(address), value);
}

BOOLEAN CameraDevice::readClock(PLONG clock) {
    UCHAR index = 0;
    if (!readBoardRegister(board::kClockIndex, &index)) {
        return FALSE;
    }
    // A camera with a fixed clock reports its index 3 as 2; a selectable clock reads as chosen.
    settings_.Clock = index == 3 && !traits_.limits.clockSelectable ? 2 : index;
    *clock = settings_.Clock;
    return TRUE;
}

BOOLEAN CameraDevice::writeFrameByteCount(ULONG bytes) {
    MutexGuard sequence(commands_.Mutex());
    BOOLEAN ok = TRUE;
    for (UCHAR i = 0; i < 4; ++i) {
        ok = writeBoardRegister(static_cast<UCHAR>(board::kFrameBytes0 + i),
                                static_cast<UCHAR>(bytes >> (8 * i))) &&
             ok;
    }
    return ok;
}

BOOLEAN CameraDevice::loadSettings() {
    const SettingsStore* store = globals_.Store();
    return store != nullptr && store->load(*this);
}

BOOLEAN CameraDevice::saveSettings() {
    const SettingsStore* store = globals_.Store();
    return store != nullptr && store->save(*this);
}

} // namespace zyn
