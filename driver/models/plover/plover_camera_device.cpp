#include "driver/models/plover/plover_camera_device.h"

#include "driver/models/plover/plover_gain.h"
#include "driver/pipeline/color_state.h"
#include "driver/protocol/command_codes.h"

namespace zyn::plover {

namespace {

constexpr ULONG kLastAddress = 0xFF;

// Sensor registers.
constexpr UCHAR kReadoutMode = 1;
constexpr UCHAR kShutterLow = 0x08; // 0x08, 0x09: lines before the read-out
constexpr UCHAR kShutterHigh = 0x09;
constexpr UCHAR kWindowX = 22; // 22 to 27: origin and size, 11 bits each (below)
constexpr UCHAR kWindowXY = 23;
constexpr UCHAR kWindowY = 24;
constexpr UCHAR kWindowW = 25;
constexpr UCHAR kWindowWH = 26;
constexpr UCHAR kWindowH = 27;
constexpr UCHAR kFineGainLow = 0x1C;
constexpr UCHAR kFineGainHigh = 0x1D;
constexpr UCHAR kCoarseGain = 0x1E;
constexpr UCHAR kFrameLengthLow = 0x7C;
constexpr UCHAR kFrameLengthHigh = 0x7D;
constexpr UCHAR kLineLengthLow = 126; // the line length's low nibble in bits 4 to 7
constexpr UCHAR kLineLengthHigh = 127;

// A line is the window's width plus this many pixel clocks of blanking.
constexpr ULONG kLineBlanking = 328;
// A frame is the window's bottom row plus this many lines of blanking.
constexpr ULONG kFrameBlanking = 92;

// Board registers: the firmware version, and the line buffer's geometry, taken when register
// 32 goes from 0 to 1.
constexpr UCHAR kBoardVersionHigh = 29;
constexpr UCHAR kBoardBufferCommit = 32;
constexpr UCHAR kBoardBufferTiming = 33;
constexpr UCHAR kBoardBufferWidth = 37;  // 37, 38 low byte first
constexpr UCHAR kBoardBufferHeight = 39; // 39, 40
// Firmware from this version on needs the shorter line-buffer timing.
constexpr ULONG kShortBufferTimingVersion = 787742;

// The board's line buffer as the sensor initialisation leaves it.
struct BoardWrite {
    UCHAR reg;
    UCHAR value;
};
constexpr BoardWrite kBufferAtPowerOn[] = {
    {33, 148}, {34, 0}, {35, 22}, {36, 0}, {37, 0}, {38, 5}, {39, 0}, {40, 4}, {32, 1},
};
struct SensorWrite {
    UCHAR address;
    UCHAR value;
};
constexpr SensorWrite kSensorAtPowerOn[] = {
    {0, 12},    {1, 2},     {3, 2},  {4, 19}, {124, 58}, {125, 4},
    {126, 128}, {127, 103}, {38, 0}, {8, 1},  {9, 0},
};

constexpr ULONG RoundUpTo2KiB(ULONG bytes) {
    return ((bytes - 1) & ~0x7FFu) + 0x800;
}

} // namespace

PloverCameraDevice::PloverCameraDevice(struct _KSDEVICE* device, DriverGlobals& globals)
    : CameraDevice(device, kTraits, globals),
      frameLength_(static_cast<ULONG>(Settings().RoiY + Settings().RoiH) + kFrameBlanking) {}

BOOLEAN PloverCameraDevice::writeSensorRegister(ULONG index, ULONG value) {
    if (index > kLastAddress) {
        return FALSE;
    }
    Settings().RegisterShadow[index] = static_cast<LONG>(value);
    return Commands().Send(
        packets::SensorWrite8(static_cast<UCHAR>(index), static_cast<UCHAR>(value)));
}

VOID PloverCameraDevice::InitSensor() {
    MutexGuard sequence(Commands().Mutex());
    UCHAR version[3] = {};
    if (readBoardRegister(kBoardVersionHigh, &version[0])) {
        readBoardRegister(kBoardVersionHigh + 1, &version[1]);
        readBoardRegister(kBoardVersionHigh + 2, &version[2]);
    }
    firmwareVersion_ =
        static_cast<ULONG>(version[0]) << 16 | static_cast<ULONG>(version[1]) << 8 | version[2];
    for (const SensorWrite& write : kSensorAtPowerOn) {
        writeSensorRegister(write.address, write.value);
    }
    for (const BoardWrite& write : kBufferAtPowerOn) {
        writeBoardRegister(write.reg, write.value);
    }
    InitializationDone();
}

NTSTATUS PloverCameraDevice::PrepareAtDeviceStart() {
    MutexGuard sequence(Commands().Mutex());
    const CommandOutcome outcome(Commands());
    Commands().Send(packets::InitBegin());
    InitSensor();
    return outcome.AllSent() ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

VOID PloverCameraDevice::PrepareForReload() {
    (VOID) PrepareAtDeviceStart();
}

NTSTATUS PloverCameraDevice::StartCapture(ColorState* colorState, ULONG, ULONG) {
    CameraSettings& settings = Settings();
    const ULONG x = static_cast<ULONG>(settings.RoiX);
    const ULONG y = static_cast<ULONG>(settings.RoiY);
    // The whole region is read out, as wide as the conversion takes it; the pin delivers its
    // leftmost OutputWidth columns.
    const ULONG width = static_cast<ULONG>(settings.RoiW);
    const ULONG height = static_cast<ULONG>(settings.RoiH);

    MutexGuard sequence(Commands().Mutex());
    const CommandOutcome outcome(Commands());
    writeSensorRegister(kReadoutMode, 2);
    frameLength_ = y + height + kFrameBlanking;
    writeSensorRegister(kLineLengthLow, ((width + 72) * 16) & 0xFF);
    writeSensorRegister(kLineLengthHigh, ((width + kLineBlanking) / 16) & 0xFF);
    writeSensorRegister(kWindowW, width & 0xFF);
    writeSensorRegister(kWindowWH, ((height * 16) & 0xFF) | ((width >> 8) & 0x07));
    writeSensorRegister(kWindowH, (height / 16) & 0x7F);
    writeSensorRegister(kWindowX, x & 0xFF);
    writeSensorRegister(kWindowXY, ((y * 16) & 0xFF) | ((x >> 8) & 0x07));
    writeSensorRegister(kWindowY, (y / 16) & 0x7F);

    const ULONG frameBytes = RoundUpTo2KiB(width * height);
    SetRawFrameGeometry(0, width, frameBytes);
    BOOLEAN started = writeFrameByteCount(frameBytes);

    writeBoardRegister(kBoardBufferCommit, 0);
    writeBoardRegister(kBoardBufferTiming, firmwareVersion_ < kShortBufferTimingVersion ? 148 : 46);
    writeBoardRegister(34, 0);
    writeBoardRegister(35, 22);
    writeBoardRegister(36, 0);
    writeBoardRegister(kBoardBufferWidth, static_cast<UCHAR>(width));
    writeBoardRegister(kBoardBufferWidth + 1, static_cast<UCHAR>(width >> 8));
    writeBoardRegister(kBoardBufferHeight, static_cast<UCHAR>(height));
    writeBoardRegister(kBoardBufferHeight + 1, static_cast<UCHAR>(height >> 8));
    writeBoardRegister(kBoardBufferCommit, 1);

    const NTSTATUS status = CompleteCameraStart(colorState, started);
    return NT_SUCCESS(status) && !outcome.AllSent() ? STATUS_UNSUCCESSFUL : status;
}

BOOLEAN PloverCameraDevice::setExposure(LONG value) {
    const ULONG lines = ExposureWithinLimits(value, Traits().limits);
    Settings().Exposure = static_cast<LONG>(lines);

    MutexGuard sequence(Commands().Mutex());
    ULONG shutter;
    if (lines > frameLength_) {
        // The frame stretches to the exposure.
        writeSensorRegister(kFrameLengthHigh, (lines >> 8) & 0xFF);
        writeSensorRegister(kFrameLengthLow, lines & 0xFF);
        shutter = 0;
    } else {
        writeSensorRegister(kFrameLengthLow, frameLength_ & 0xFF);
        writeSensorRegister(kFrameLengthHigh, (frameLength_ >> 8) & 0xFF);
        shutter = frameLength_ - lines;
    }
    const BOOLEAN low = writeSensorRegister(kShutterLow, shutter & 0xFF);
    const BOOLEAN high = writeSensorRegister(kShutterHigh, (shutter >> 8) & 0xFF);
    return low && high;
}

BOOLEAN PloverCameraDevice::setGain(LONG value) {
    const ULONG gain = GainWithinLimits(value, Traits().limits);
    Settings().GlobalGain = static_cast<LONG>(gain);
    const GainCode code = PloverGainCode(gain);
    MutexGuard sequence(Commands().Mutex());
    BOOLEAN ok = writeSensorRegister(kFineGainLow, code.fine & 0xFF);
    ok = writeSensorRegister(kFineGainHigh, (code.fine >> 8) & 0x1F) && ok;
    ok = writeSensorRegister(kCoarseGain, code.coarse) && ok;
    return ok;
}

BOOLEAN PloverCameraDevice::setExternalTrigger(LONG flag) {
    const LONG on = flag != 0 ? 1 : 0;
    const BOOLEAN ok = writeBoardRegister(board::kTrigger, on ? Traits().triggerOnValue : 0);
    Settings().ExTrigger = on;
    return ok;
}

BOOLEAN PloverCameraDevice::readExternalTrigger(PLONG flag) {
    UCHAR value = 0;
    if (!readBoardRegister(board::kTrigger, &value)) {
        return FALSE;
    }
    // The board only ever raises the record's flag: clearing it here would drop a stored
    // trigger choice at the next save.
    if ((value & Traits().triggerOnValue) != 0) {
        Settings().ExTrigger = 1;
    }
    *flag = Settings().ExTrigger;
    return TRUE;
}

BOOLEAN PloverCameraDevice::selectClock(LONG index) {
    ULONG clock = static_cast<ULONG>(index);
    if (clock >= static_cast<ULONG>(kClockCount)) {
        clock = 0;
    }
    MutexGuard sequence(Commands().Mutex());
    if (!writeBoardRegister(board::kClockIndex, static_cast<UCHAR>(clock))) {
        return FALSE;
    }
    InitSensor();
    // The colour phase does not change: no colour state is needed.
    const CameraSettings& settings = Settings();
    StartCapture(nullptr, static_cast<ULONG>(settings.RoiW), static_cast<ULONG>(settings.RoiH));
    Settings().Clock = static_cast<LONG>(clock);
    return TRUE;
}

} // namespace zyn::plover
