// The Plover device context: 8-bit sensor registers, the read-out window programmed at every
// camera start, and a pixel clock the user can choose. The sensor is initialised at device
// start and on a settings reload, not at the camera start.
#pragma once

#include "driver/core/camera_device.h"
#include "driver/models/plover/plover_model.h"

namespace zyn::plover {

class PloverCameraDevice : public CameraDevice {
public:
    PloverCameraDevice(struct _KSDEVICE* device, DriverGlobals& globals);

    // Programs the window of the region in the settings, sets the raw frame geometry, starts
    // the board and applies ExTrigger, Exposure and GlobalGain. Fails when the frame size or
    // the start command did not reach the camera.
    NTSTATUS StartCapture(ColorState* colorState, ULONG width, ULONG height) override;
    // Reads the firmware version, then sets the sensor and the board's line buffer to their
    // power-on configuration; failed commands are not acted on.
    VOID InitSensor() override;

    // Addresses above 255 are refused without a transfer. The value goes into the register
    // shadow before the write is sent; its low byte is sent.
    BOOLEAN writeSensorRegister(ULONG index, ULONG value) override;
    // 1 to 8191 lines (0 becomes 1, larger or negative values 8191), stored before it is
    // programmed. An exposure longer than the frame stretches the frame. True when both
    // shutter writes were sent.
    BOOLEAN setExposure(LONG value) override;
    // Cut to 119 (compared unsigned) and stored before it is programmed; true when all three
    // gain registers were written.
    BOOLEAN setGain(LONG value) override;
    // Board register 11 only; ExTrigger is stored whatever the board answered.
    BOOLEAN setExternalTrigger(LONG flag) override;

    // ExTrigger as the board has it: on when any of the trigger bits of register 11 is set.
    // On failure ExTrigger is left as it was.
    BOOLEAN readExternalTrigger(PLONG flag) override;
    // Selects pixel clock `index` (6 or more, or negative, select 0). On success the sensor
    // is initialised and the camera started again for the new clock, and Clock stored.
    BOOLEAN selectClock(LONG index) override;

    // The sensor is initialised at device start and before a settings reload.
    NTSTATUS PrepareAtDeviceStart() override;
    VOID PrepareForReload() override;

    ULONG FirmwareVersion() const { return firmwareVersion_; }
    ULONG FrameLength() const { return frameLength_; }

private:
    ULONG firmwareVersion_ = 0; // board registers 29 (high) to 31; 0 until read
    ULONG frameLength_;         // lines of one frame: the window's bottom plus blanking
};

} // namespace zyn::plover
