// The Tern device context: the Tern sensor's register writes, initialisation, exposure, gain
// and trigger programming, and the camera start. The region, sub-sampling and flips are not
// programmed into the camera: it always sends the full sensor, and the driver cuts and flips.
#pragma once

#include "driver/core/camera_device.h"
#include "driver/models/tern/tern_model.h"

namespace zyn::tern {

class TernCameraDevice : public CameraDevice {
public:
    TernCameraDevice(struct _KSDEVICE* device, DriverGlobals& globals);

    NTSTATUS StartCapture(ColorState* colorState, ULONG width, ULONG height) override;
    VOID InitSensor() override;

    // Indices above 1023 are refused without a transfer. The unmasked value goes into the
    // register shadow before the write is sent.
    BOOLEAN writeSensorRegister(ULONG index, ULONG value) override;
    // Clamped to [8, 1074] (compared unsigned); switches between the normal and long exposure
    // modes when the value crosses 1068. Exposure is stored when the last write succeeded.
    BOOLEAN setExposure(LONG value) override;
    // Cut to 1023 (compared unsigned); GlobalGain is stored when both writes succeeded.
    BOOLEAN setGain(LONG value) override;
    // Fails, changing nothing, when the board refuses the trigger register; otherwise adapts
    // the sensor's read-out start and stores ExTrigger.
    BOOLEAN setExternalTrigger(LONG flag) override;

private:
    VOID WriteRegisters(ULONG first, const ULONG* values, ULONG count);

    // Which exposure mode the sensor's registers are in. It follows the stored Exposure, and
    // the sensor initialisation returns it to normal.
    BOOLEAN longExposureMode_ = FALSE;
};

} // namespace zyn::tern
