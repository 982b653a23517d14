#include "driver/models/tern/tern_camera_device.h"

#include "driver/models/tern/tern_sensor_table.h"
#include "driver/models/tern/tern_sensor_word.h"
#include "driver/pipeline/color_state.h"
#include "driver/protocol/command_codes.h"

namespace zyn::tern {

namespace {

// Board register 6 holds the sensor in reset while bit 0 is set.
constexpr UCHAR kBoardSensorReset = 6;
constexpr UCHAR kSensorResetPulse = 17;
constexpr ULONG kResetSettleMs = 40;

// Sensor registers.
constexpr ULONG kGainLow = 6;  // bits 0 to 5 of the gain code
constexpr ULONG kGainHigh = 7; // bits 6 to 9
constexpr ULONG kClockDivider = 25;
constexpr ULONG kClockEnable = 26;
constexpr ULONG kReadoutControl = 32; // bit 4: free-running read-out
constexpr ULONG kReadoutStart = 33;
constexpr ULONG kExposureMode = 154;
constexpr ULONG kLongExposure = 155;    // long-mode exposure steps, 2 to 7
constexpr ULONG kShutterStartLow = 158; // 158, 159: shutter start; 161, 162: its copy
constexpr ULONG kShutterStartHigh = 159;
constexpr ULONG kShutterCopyLow = 161;
constexpr ULONG kShutterCopyHigh = 162;

constexpr ULONG kAnalogSetup[] = {62, 7, 32, 39, 55, 6, 22, 1, 32, 39, 5, 2}; // 35 to 46
constexpr ULONG kTimingBankA[] = {0x35001, 0x220001, 0x1C003, 0x50006, 0x35007,
                                  0x75011, 0x3501B,  0x42C,   0x3E042C}; // 384 to 392
constexpr ULONG kTimingBankB[] = {0x10E001, 0x220001, 0x0D1003, 0x14D006, 0x10E007,
                                  0x19E009, 0x10E00A, 0x09110B, 0x3E010B}; // 400 to 408

// The control registers cleared at initialisation, in the order they are written, and the few
// that take another value.
struct RegisterRange {
    ULONG first;
    ULONG last;
};
constexpr RegisterRange kControlRanges[] = {{0, 30}, {33, 34}, {47, 62}, {64, 75}, {124, 163}};
struct RegisterValue {
    ULONG index;
    ULONG value;
};
constexpr RegisterValue kControlValues[] = {
    {1, 8},   {7, 3},   {16, 3},  {17, 30},  {18, 6},   {19, 2},   {20, 1},
    {34, 5},  {47, 9},  {49, 6},  {140, 56}, {141, 3},  {143, 56}, {144, 5},
    {145, 2}, {152, 1}, {155, 7}, {157, 1},  {158, 36}, {159, 1},
};
constexpr RegisterRange kBlankedRows = {76, 123};

constexpr ULONG ControlValue(ULONG index) {
    for (const RegisterValue& entry : kControlValues) {
        if (entry.index == index) {
            return entry.value;
        }
    }
    return 0;
}

template <typename T, ULONG N> constexpr ULONG CountOf(const T (&)[N]) {
    return N;
}

} // namespace

TernCameraDevice::TernCameraDevice(struct _KSDEVICE* device, DriverGlobals& globals)
    : CameraDevice(device, kTraits, globals) {}

BOOLEAN TernCameraDevice::writeSensorRegister(ULONG index, ULONG value) {
    if (index >= kSensorRegisterCount) {
        return FALSE;
    }
    Settings().RegisterShadow[index] = static_cast<LONG>(value);
    return Commands().Send(
        packets::SensorWriteSerial(SensorShiftBits(index), SensorWord(index, value)));
}

VOID TernCameraDevice::WriteRegisters(ULONG first, const ULONG* values, ULONG count) {
    for (ULONG i = 0; i < count; ++i) {
        writeSensorRegister(first + i, values[i]);
    }
}

VOID TernCameraDevice::InitSensor() {
    MutexGuard sequence(Commands().Mutex());
    // Failed writes are not acted on here: the camera start and the frame reads show them.
    if (writeBoardRegister(kBoardSensorReset, kSensorResetPulse)) {
        writeBoardRegister(kBoardSensorReset, 0);
    }
    DelayMilliseconds(kResetSettleMs);

    WriteRegisters(35, kAnalogSetup, CountOf(kAnalogSetup));
    WriteRegisters(384, kTimingBankA, CountOf(kTimingBankA));
    WriteRegisters(400, kTimingBankB, CountOf(kTimingBankB));
    WriteRegisters(kSequencerFirstRegister, kSequencerProgram, kSequencerSteps);

    for (const RegisterRange& range : kControlRanges) {
        for (ULONG index = range.first; index <= range.last; ++index) {
            writeSensorRegister(index, ControlValue(index));
        }
    }
    // The shutter start is latched only by a second write.
    writeSensorRegister(kShutterStartLow, ControlValue(kShutterStartLow));
    writeSensorRegister(kShutterStartHigh, ControlValue(kShutterStartHigh));
    for (ULONG index = kBlankedRows.first; index <= kBlankedRows.last; ++index) {
        writeSensorRegister(index, 0);
    }
    // The exposure registers are now in normal mode whatever Exposure holds.
    longExposureMode_ = FALSE;

    LONG clock = Settings().Clock;
    readClock(&clock);
    switch (clock) {
    case 1:
        writeSensorRegister(kClockDivider, 24);
        writeSensorRegister(kClockEnable, 1);
        break;
    case 2:
        writeSensorRegister(kClockDivider, 42);
        writeSensorRegister(kClockEnable, 1);
        writeSensorRegister(17, 24);
        writeSensorRegister(19, 15);
        break;
    default:
        writeSensorRegister(kClockDivider, 32);
        writeSensorRegister(kClockEnable, 1);
        break;
    }
    writeSensorRegister(kReadoutControl, 11);
    writeSensorRegister(24, 15);
    InitializationDone();
}

NTSTATUS TernCameraDevice::StartCapture(ColorState* colorState, ULONG, ULONG) {
    MutexGuard sequence(Commands().Mutex());
    const CommandOutcome outcome(Commands());
    InitSensor();
    SetRawFrameGeometry(0, kRawPitch, kRawFrameBytes);
    BOOLEAN started = writeFrameByteCount(kRawFrameBytes);
    const NTSTATUS status = CompleteCameraStart(colorState, started);
    return NT_SUCCESS(status) && !outcome.AllSent() ? STATUS_UNSUCCESSFUL : status;
}

BOOLEAN TernCameraDevice::setExposure(LONG value) {
    const ULONG exposure = ExposureWithinLimits(value, Traits().limits);
    const ULONG low = exposure & 0x3F;
    const ULONG high = (exposure >> 6) & 0x3F;

    MutexGuard sequence(Commands().Mutex());
    BOOLEAN ok;
    if (exposure > static_cast<ULONG>(kLongExposureThreshold)) {
        if (!longExposureMode_) {
            constexpr RegisterValue kLongMode[] = {{154, 1}, {157, 0}, {158, 7}, {159, 0},
                                                   {160, 1}, {161, 7}, {162, 0}, {163, 1}};
            for (const RegisterValue& entry : kLongMode) {
                writeSensorRegister(entry.index, entry.value);
            }
        }
        ok = writeSensorRegister(kLongExposure, exposure - 1067);
    } else {
        if (longExposureMode_) {
            constexpr RegisterValue kNormalMode[] = {
                {kExposureMode, 0}, {kLongExposure, 7}, {157, 1}, {160, 1}, {163, 0}};
            for (const RegisterValue& entry : kNormalMode) {
                writeSensorRegister(entry.index, entry.value);
            }
        }
        writeSensorRegister(kShutterStartLow, low);
        writeSensorRegister(kShutterStartHigh, high);
        writeSensorRegister(kShutterCopyLow, low);
        ok = writeSensorRegister(kShutterCopyHigh, high);
    }
    if (ok) {
        Settings().Exposure = static_cast<LONG>(exposure);
        longExposureMode_ = exposure > static_cast<ULONG>(kLongExposureThreshold);
    }
    return ok;
}

BOOLEAN TernCameraDevice::setGain(LONG value) {
    const ULONG gain = GainWithinLimits(value, Traits().limits);
    MutexGuard sequence(Commands().Mutex());
    const BOOLEAN low = writeSensorRegister(kGainLow, gain & 0x3F);
    const BOOLEAN high = writeSensorRegister(kGainHigh, (gain >> 6) & 0x0F);
    if (low && high) {
        Settings().GlobalGain = static_cast<LONG>(gain);
    }
    return low && high;
}

BOOLEAN TernCameraDevice::setExternalTrigger(LONG flag) {
    const LONG on = flag != 0 ? 1 : 0;
    MutexGuard sequence(Commands().Mutex());
    if (!writeBoardRegister(board::kTrigger, on ? Traits().triggerOnValue : 0)) {
        return FALSE;
    }
    CameraSettings& settings = Settings();
    const ULONG control = static_cast<ULONG>(settings.RegisterShadow[kReadoutControl]);
    const ULONG start = static_cast<ULONG>(settings.RegisterShadow[kReadoutStart]);
    if (on) {
        writeSensorRegister(kReadoutControl, control & ~0x10u);
        writeSensorRegister(kReadoutStart, (start & ~0x0Fu) + 0x1C);
    } else {
        writeSensorRegister(kReadoutControl, control | 0x10u);
        writeSensorRegister(kReadoutStart, (start & ~0x1Fu) + 1);
    }
    settings.ExTrigger = on;
    return TRUE;
}

} // namespace zyn::tern
