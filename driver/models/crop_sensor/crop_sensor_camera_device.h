// The device context of the cameras with the cropping sensor family (Heron, Egret), made with
// the model's row (crop_sensor_model.h). The sensor
// reads out the region of interest itself, either as a window or binned 2 × 2 over the whole
// array, and mirrors and flips in its read-out; the colour of the first sample follows.
//
// The sensor is initialised once, when the device starts; a camera start then only reprograms
// the read-out.
#pragma once

#include "driver/core/camera_device.h"
#include "driver/models/crop_sensor/crop_sensor_model.h"
#include "driver/models/crop_sensor/crop_sensor_profile.h"
#include "driver/models/crop_sensor/crop_window.h"

namespace zyn::crop {

class CropSensorCameraDevice : public CameraDevice {
public:
    CropSensorCameraDevice(struct _KSDEVICE* device, const CropSensorModel& model,
                           DriverGlobals& globals);

    // Programs the read-out for the region and sub-sampling in the settings, sets the raw
    // frame geometry and starts the board, then hands the colour phase of the read-out to the
    // colour state (when there is one). Fails when the frame size or the start command did not
    // reach the camera.
    NTSTATUS StartCapture(ColorState* colorState, ULONG width, ULONG height) override;
    // Powers the sensor and loads the maker's configuration; failed writes are not acted on.
    VOID InitSensor() override;

    // Addresses above 0xFFFF are refused without a transfer; the value's low byte is sent.
    BOOLEAN writeSensorRegister(ULONG index, ULONG value) override;
    // 1 to 32767 lines (0 becomes 1, larger or negative values 32767), stored before it is
    // programmed; the frame timing and the board's trigger timing follow. Always succeeds: the
    // next frame shows what the sensor took.
    BOOLEAN setExposure(LONG value) override;
    // Cut to the gain maximum (compared unsigned); stored when both bytes were written.
    BOOLEAN setGain(LONG value) override;
    // Switched in the sensor while its read-out is held; the board and ExTrigger follow only
    // when the sensor took the switch.
    BOOLEAN setExternalTrigger(LONG flag) override;

    // The sensor's register at `address`, asked of the sensor itself.
    BOOLEAN readSensorRegister(ULONG address, PULONG value) override;
    // The gain the sensor holds; stored in GlobalGain when both bytes were read.
    BOOLEAN readGain(PLONG gain) override;
    // Mirror and flip in the read-out. The flag (0 or 1) is stored only when the sensor took
    // it; the colour phase then follows.
    BOOLEAN setFlipH(LONG flag) override;
    BOOLEAN setFlipV(LONG flag) override;

    // The board is started, the sensor initialised and the read-out programmed.
    NTSTATUS PrepareAtDeviceStart() override;

    // The read-out timing in effect, which the exposure is computed with.
    ULONG LineLength() const { return lineLength_; }
    ULONG FrameLength() const { return frameLength_; }

private:
    BOOLEAN sendSensorControl(UCHAR selector, UCHAR value);
    // A value of `bytes` bytes over consecutive registers, low byte first; true when every
    // write was sent.
    BOOLEAN WriteSplit(USHORT first, ULONG value, ULONG bytes);
    VOID WriteTable(const RegisterWrite* writes, ULONG count);
    BOOLEAN WriteDirection(LONG flipH, LONG flipV);
    // The read-out direction with one flag changed; stores the flag when the sensor took it.
    BOOLEAN SetDirectionFlag(volatile LONG* flag, LONG value);
    // Recomputes the colour phase of the read-out for the current window and flips.
    VOID UpdateBayerPhase(ColorState* colorState);

    const CropSensorProfile& profile_;
    ULONG lineLength_;
    ULONG frameLength_;
};

} // namespace zyn::crop
