#include "driver/models/crop_sensor/crop_sensor_camera_device.h"

#include "driver/kernel/interlocked.h"
#include "driver/models/crop_sensor/crop_sensor_exposure.h"
#include "driver/models/crop_sensor/crop_sensor_registers.h"
#include "driver/pipeline/color_state.h"
#include "driver/protocol/command_codes.h"

namespace zyn::crop {

namespace {

// Time the sensor needs after the table before its exposure registers take values, and after
// those before it leaves standby.
constexpr ULONG kTableSettleMs = 10;
constexpr ULONG kExposureSettleMs = 2;
// Time the board needs after a new frame size before it is started.
constexpr ULONG kFrameSizeSettleMs = 100;

// Registers the maker's sequence clears once the exposure setup has settled.
constexpr USHORT kClearedLast[] = {0x20A, 0x2AA, 0x2AE};

// The board's trigger timing: four registers from this one, low byte first.
constexpr UCHAR kBoardTriggerTiming = 20;

// A frame in window mode spans the window's lines rounded up to even, less one.
constexpr ULONG WindowFrameLength(ULONG height) {
    return ((height + 1) & ~1u) - 1;
}

} // namespace

CropSensorCameraDevice::CropSensorCameraDevice(struct _KSDEVICE* device,
                                               const CropSensorModel& model, DriverGlobals& globals)
    : CameraDevice(device, model.traits, globals), profile_(model.profile),
      lineLength_(model.profile.initialLineLength),
      frameLength_(WindowFrameLength(static_cast<ULONG>(model.traits.limits.sensorHeight))) {}

BOOLEAN CropSensorCameraDevice::writeSensorRegister(ULONG index, ULONG value) {
    // These sensors answer reads, so no shadow is kept.
    if (index > kLastAddress) {
        return FALSE;
    }
    return Commands().Send(
        packets::SensorWrite16(static_cast<USHORT>(index), static_cast<UCHAR>(value)));
}

BOOLEAN CropSensorCameraDevice::readSensorRegister(ULONG address, PULONG value) {
    if (address > kLastAddress) {
        return FALSE;
    }
    UCHAR byte = 0;
    if (!Commands().Query(packets::SensorRead16(static_cast<USHORT>(address)), &byte,
                          kSensorReadSettleMs)) {
        return FALSE;
    }
    *value = byte;
    return TRUE;
}

BOOLEAN CropSensorCameraDevice::sendSensorControl(UCHAR selector, UCHAR value) {
    return Commands().Send(packets::SensorControl(selector, value));
}

BOOLEAN CropSensorCameraDevice::WriteSplit(USHORT first, ULONG value, ULONG bytes) {
    BOOLEAN ok = TRUE;
    for (ULONG i = 0; i < bytes; ++i) {
        ok = writeSensorRegister(first + i, (value >> (8 * i)) & 0xFF) && ok;
    }
    return ok;
}

VOID CropSensorCameraDevice::WriteTable(const RegisterWrite* writes, ULONG count) {
    for (ULONG i = 0; i < count; ++i) {
        writeSensorRegister(writes[i].address, writes[i].value);
    }
}

VOID CropSensorCameraDevice::InitSensor() {
    MutexGuard sequence(Commands().Mutex());
    sendSensorControl(kControlPower, 1);
    if (profile_.releaseAtPowerUp) {
        sendSensorControl(kControlStream, 1);
    }
    DelayMilliseconds(profile_.powerUpDelayMs);
    WriteTable(profile_.table, profile_.tableLength);
    DelayMilliseconds(kTableSettleMs);
    WriteTable(profile_.exposureSetup, profile_.exposureSetupLength);
    DelayMilliseconds(kExposureSettleMs);
    for (USHORT address : kClearedLast) {
        writeSensorRegister(address, 0);
    }
    // The sensor powers up reading backwards; read out the way the flip settings ask.
    const CameraSettings& settings = Settings();
    WriteDirection(ReadInterlocked(&settings.FlipH), ReadInterlocked(&settings.FlipV));
    InitializationDone();
}

NTSTATUS CropSensorCameraDevice::PrepareAtDeviceStart() {
    MutexGuard sequence(Commands().Mutex());
    // A camera that missed its start control or the sensor's power-up stays silent for good.
    const CommandOutcome outcome(Commands());
    Commands().Send(packets::StartControl());
    writeBoardRegister(board::kStartMode, kBoardStartMode);
    Commands().Send(packets::InitBegin());
    InitSensor();
    // No capture pin exists yet to take the colour phase.
    const CameraSettings& settings = Settings();
    const NTSTATUS status =
        StartCapture(nullptr, static_cast<ULONG>(settings.RoiW), static_cast<ULONG>(settings.RoiH));
    return NT_SUCCESS(status) && !outcome.AllSent() ? STATUS_UNSUCCESSFUL : status;
}

NTSTATUS CropSensorCameraDevice::StartCapture(ColorState* colorState, ULONG, ULONG) {
    const SensorWindow window = ReadoutWindow(Settings(), Traits().limits);
    MutexGuard sequence(Commands().Mutex());
    const CommandOutcome outcome(Commands());

    ULONG pitch;
    ULONG lines;
    writeSensorRegister(reg::kHold, 1);
    if (window.binned) {
        frameLength_ = profile_.binnedFrameLength;
        writeSensorRegister(reg::kReadoutMode, kModeBinned2x);
        writeSensorRegister(reg::kCropEnable, 0);
        lineLength_ = profile_.binnedLineLength;
        pitch = profile_.binnedPitch;
        lines = static_cast<ULONG>(window.height) / 2;
    } else {
        frameLength_ = WindowFrameLength(static_cast<ULONG>(window.height));
        writeSensorRegister(reg::kReadoutMode, kModeWindow);
        WriteSplit(reg::kCropStartX, static_cast<ULONG>(CropStartX(profile_, window)), 2);
        WriteSplit(reg::kCropStartY, static_cast<ULONG>(CropStartY(profile_, window)), 2);
        WriteSplit(reg::kCropWidth, static_cast<ULONG>(window.width), 2);
        WriteSplit(reg::kCropHeight, static_cast<ULONG>(window.height), 2);
        writeSensorRegister(reg::kCropEnable, kCropBoth);
        lineLength_ = (static_cast<ULONG>(window.width) + profile_.lineBlanking) * 3 / 2;
        // The sensor sends the whole crop window, so its width is the pitch even for a region
        // that is not on crop steps.
        pitch = static_cast<ULONG>(window.width);
        lines = static_cast<ULONG>(window.height);
    }
    writeSensorRegister(reg::kLineLength, lineLength_ & 0xFF);
    writeSensorRegister(reg::kLineLength + 1, (lineLength_ >> 8) & 0x1F);
    // The frame length and the board's trigger timing follow from the exposure and the window:
    // re-derive them, or a region change leaves the previous window's frame period.
    (VOID) setExposure(Settings().Exposure);
    // The new read-out takes effect while the sensor is in standby.
    sendSensorControl(kControlStream, 0);
    writeSensorRegister(reg::kHold, 0);
    sendSensorControl(kControlStream, 1);

    const ULONG frameBytes = RoundUpToKiB(pitch * lines);
    SetRawFrameGeometry(0, pitch, frameBytes);
    BOOLEAN started = writeFrameByteCount(frameBytes);
    DelayMilliseconds(kFrameSizeSettleMs);
    started = Commands().Send(packets::StartControl()) && started;
    writeBoardRegister(board::kStartMode, kBoardStartMode);
    UpdateBayerPhase(colorState);
    return started && outcome.AllSent() ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

VOID CropSensorCameraDevice::UpdateBayerPhase(ColorState* colorState) {
    const CameraSettings& settings = Settings();
    const SensorWindow window = ReadoutWindow(settings, Traits().limits);
    SetBayerPhase(ReadoutBayerPhase(BaseBayerPhase(), window, ReadInterlocked(&settings.FlipH),
                                    ReadInterlocked(&settings.FlipV)));
    if (colorState != nullptr) {
        colorState->SetBayerPhase(BayerPhase());
    }
}

BOOLEAN CropSensorCameraDevice::setExposure(LONG value) {
    const ULONG lines = ExposureWithinLimits(value, Traits().limits);
    Settings().Exposure = static_cast<LONG>(lines);

    MutexGuard sequence(Commands().Mutex());
    const ULONG timing = TriggerTiming(lines, lineLength_);
    for (UCHAR i = 0; i < 4; ++i) {
        writeBoardRegister(static_cast<UCHAR>(kBoardTriggerTiming + i),
                           static_cast<UCHAR>(timing >> (8 * i)));
    }
    const FrameTiming frame = ExposureFrameTiming(lines, frameLength_, profile_.frameOverhead);
    WriteSplit(reg::kShutter, frame.shutter & 0xFFFFF, 3);
    WriteSplit(reg::kFrameLength, frame.frameLength & 0xFFFFF, 3);
    return TRUE;
}

BOOLEAN CropSensorCameraDevice::setGain(LONG value) {
    const ULONG gain = GainWithinLimits(value, Traits().limits);
    MutexGuard sequence(Commands().Mutex());
    const BOOLEAN low = writeSensorRegister(reg::kGain, gain & 0xFF);
    const BOOLEAN high = writeSensorRegister(reg::kGain + 1, (gain >> 8) & profile_.gainHighMask);
    if (low && high) {
        Settings().GlobalGain = static_cast<LONG>(gain);
    }
    return low && high;
}

BOOLEAN CropSensorCameraDevice::readGain(PLONG gain) {
    MutexGuard sequence(Commands().Mutex());
    ULONG low = 0;
    ULONG high = 0;
    if (!readSensorRegister(reg::kGain, &low) || !readSensorRegister(reg::kGain + 1, &high)) {
        return FALSE;
    }
    Settings().GlobalGain = static_cast<LONG>(low | high << 8);
    *gain = Settings().GlobalGain;
    return TRUE;
}

BOOLEAN CropSensorCameraDevice::setExternalTrigger(LONG flag) {
    const LONG on = flag != 0 ? 1 : 0;
    MutexGuard sequence(Commands().Mutex());
    writeSensorRegister(reg::kHold, 1);
    const BOOLEAN switched = writeSensorRegister(reg::kTriggerInput, static_cast<ULONG>(on));
    sendSensorControl(kControlStream, 0);
    writeSensorRegister(reg::kHold, 0);
    sendSensorControl(kControlStream, 1);
    if (!switched) {
        return FALSE;
    }
    const BOOLEAN board = writeBoardRegister(board::kTrigger, on ? Traits().triggerOnValue : 0);
    Settings().ExTrigger = on;
    return board;
}

BOOLEAN CropSensorCameraDevice::WriteDirection(LONG flipH, LONG flipV) {
    return writeSensorRegister(reg::kDirection, static_cast<ULONG>((1 - flipH) * 2 + (1 - flipV)));
}

BOOLEAN CropSensorCameraDevice::SetDirectionFlag(volatile LONG* flag, LONG value) {
    CameraSettings& settings = Settings();
    {
        MutexGuard sequence(Commands().Mutex());
        const LONG flipH = flag == &settings.FlipH ? value : ReadInterlocked(&settings.FlipH);
        const LONG flipV = flag == &settings.FlipV ? value : ReadInterlocked(&settings.FlipV);
        if (!WriteDirection(flipH, flipV)) {
            return FALSE;
        }
        InterlockedExchange(flag, value);
    }
    // The first sample read has another colour now; a frame converted meanwhile may still
    // have had the old one.
    ColorStateAccess access(*this);
    UpdateBayerPhase(access.get());
    return TRUE;
}

BOOLEAN CropSensorCameraDevice::setFlipH(LONG flag) {
    return SetDirectionFlag(&Settings().FlipH, flag != 0 ? 1 : 0);
}

BOOLEAN CropSensorCameraDevice::setFlipV(LONG flag) {
    return SetDirectionFlag(&Settings().FlipV, flag != 0 ? 1 : 0);
}

} // namespace zyn::crop
