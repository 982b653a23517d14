// The device context of one camera: its USB transport, its settings record, the raw frame
// geometry, the register shadow, the exclusive claim of the capture pin and the acquisition.
// Each model derives from it and supplies its sensor programming through the virtual
// operations; everything the models share (board registers, raw commands, memory and clock
// reads, the frame read) is here.
//
// Commands go through the device's command channel, one at a time. The frame read uses packet
// areas of its own and does not wait for the channel.
#pragma once

#include "driver/core/camera_model_traits.h"
#include "driver/core/camera_settings.h"
#include "driver/core/driver_globals.h"
#include "driver/kernel/interlocked.h"
#include "driver/kernel/lock_guards.h"
#include "driver/pool_object.h"
#include "driver/pool_tags.h"
#include "driver/protocol/command_channel.h"
#include "driver/protocol/usb_transport.h"
#include "driver/wdk.h"

struct _KSDEVICE;

namespace zyn {

class Acquisition;
class CaptureOffer;
class CapturePin;
class ColorState;

class CameraDevice : public PoolObject<kTagContext> {
public:
    // A new context with the settings at their creation values, the model's Bayer phase and
    // the initialisation still to come. The transport is attached to the device stack
    // separately (Transport().Attach).
    CameraDevice(struct _KSDEVICE* device, const CameraModelTraits& traits, DriverGlobals& globals);
    virtual ~CameraDevice();
    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    // Operations the acquisition and the capture pin call, in the model's table.

    // A raw frame is ready: asks the open pin to process.
    virtual VOID NotifyFrame();
    // Programs the camera for streaming and sets the raw frame geometry. Sensor writes are
    // not checked; the result reports whether the frame size and the start command reached
    // the camera.
    virtual NTSTATUS StartCapture(ColorState* colorState, ULONG width, ULONG height);
    // Reads one raw frame of GetRawFrameSize bytes into `buffer` (non-paged pool).
    virtual BOOLEAN ReadRawFrame(PUCHAR buffer);
    // Whether the last read failed with an error rather than by waiting out the read timeout:
    // nothing to read into, requests the USB stack refused or failed (the camera gone).
    BOOLEAN LastReadFailedFast() const { return lastReadFailedFast_; }
    virtual ULONG GetRawFrameSize() const { return rawFrameSize_; }
    virtual ULONG GetRawFrameOffset() const { return rawFrameOffset_; }
    virtual ULONG GetRawFramePitch() const { return rawFramePitch_; }
    virtual NTSTATUS AbortPipes();
    virtual VOID CancelReads();
    // The stop of a stream: no frame read submits anything until ResumeReads, and one in
    // progress is cancelled and waited for (UsbTransport::HaltReads).
    VOID HaltReads();
    VOID ResumeReads();
    virtual ULONG GetRoiX() const { return static_cast<ULONG>(settings_.RoiX); }
    virtual ULONG GetRoiY() const { return static_cast<ULONG>(settings_.RoiY); }
    // The model's sensor initialisation.
    virtual VOID InitSensor();

    // The model's sensor programming. Each reports whether the camera took the command(s)
    // that decide it, and updates the settings record as the model does. A model without it
    // answers false and changes nothing.
    virtual BOOLEAN writeSensorRegister(ULONG /*index*/, ULONG /*value*/) { return FALSE; }
    virtual BOOLEAN setExposure(LONG /*value*/) { return FALSE; }
    virtual BOOLEAN setGain(LONG /*value*/) { return FALSE; }
    virtual BOOLEAN setExternalTrigger(LONG /*flag*/) { return FALSE; }
    // The register's value as the sensor reports it, on models whose sensor answers reads
    // (CMD_SENSOR_READ); the others keep only the register shadow and report failure.
    virtual BOOLEAN readSensorRegister(ULONG /*address*/, PULONG /*value*/) { return FALSE; }
    // Mirror and flip. Where the sensor does them the flag is stored only when the sensor took
    // it; elsewhere the capture pin applies the stored flag.
    virtual BOOLEAN setFlipH(LONG flag);
    virtual BOOLEAN setFlipV(LONG flag);
    // Where the camera holds a value itself, these refresh the record from it before a client
    // is told the value; false when nothing was read and the record stays as it is.
    virtual BOOLEAN readExternalTrigger(PLONG /*flag*/) { return FALSE; }
    virtual BOOLEAN readGain(PLONG /*gain*/) { return FALSE; }
    // Selects the pixel clock where the camera lets it be chosen; elsewhere false, no effect.
    virtual BOOLEAN selectClock(LONG /*index*/) { return FALSE; }
    // The camera's preparation when the device starts (once the camera is configured, before
    // its settings are loaded), and before a client's reload of the settings. A failure fails
    // the device start: a camera left unprepared would never send a frame.
    virtual NTSTATUS PrepareAtDeviceStart();
    virtual VOID PrepareForReload();

    // Commands every model sends the same way.
    BOOLEAN writeBoardRegister(UCHAR reg, UCHAR value);
    BOOLEAN readBoardRegister(UCHAR reg, PUCHAR value);
    BOOLEAN sendRawCommand(LONG length, const UCHAR* bytes);
    BOOLEAN readMemoryByte(USHORT address, PUCHAR value);
    // As readMemoryByte, with the status of the failure (STATUS_IO_TIMEOUT: no answer came).
    NTSTATUS readMemoryByteStatus(USHORT address, PUCHAR value);
    // The clock index from board register 15 (3 reads as 2), also stored in Clock. On failure
    // the stored Clock is left as it was.
    BOOLEAN readClock(PLONG clock);
    // The raw frame byte count into board registers 0 to 3, least significant byte first.
    BOOLEAN writeFrameByteCount(ULONG bytes);

    // Settings persistence in the store of the device's driver image (SettingsStore). Load
    // sets every stored value through the property setters (with their limits) and reports
    // whether the store could be opened; save writes the settings record and reports whether
    // the store could be opened. FALSE where the image has no store. Both need PASSIVE_LEVEL.
    BOOLEAN loadSettings();
    BOOLEAN saveSettings();

    struct _KSDEVICE* KsDevice() const {
        return device_;
    }
    UsbTransport& Transport() { return transport_; }
    CameraSettings& Settings() { return settings_; }
    const CameraSettings& Settings() const { return settings_; }
    const CameraModelTraits& Traits() const { return traits_; }
    DriverGlobals& Globals() { return globals_; }
    CommandChannel& Commands() { return commands_; }

    LONG BayerPhase() const { return bayerPhase_; }
    VOID SetBayerPhase(LONG phase) { bayerPhase_ = phase; }
    LONG BaseBayerPhase() const { return baseBayerPhase_; }
    BOOLEAN Initializing() const { return initializing_; }
    BOOLEAN SplitRead() const { return splitRead_; }

    // 1 while a capture pin is between acquire and stop.
    volatile LONG* ExclusiveClaim() { return &exclusiveClaim_; }
    // Capture pins that exist on the device (one per filter); PinOpen is 1 while there is
    // any. Count and flag change together under the format lock, a lock of the device's own,
    // not the kernel streaming device mutex: pins are created and closed with their filter's
    // control mutex held, and the platform orders the device mutex before that one.
    VOID PinCreated() {
        SpinLockGuard hold(&formatLock_);
        ++openPins_;
        InterlockedExchange(&settings_.PinOpen, 1);
    }
    VOID PinClosed() {
        SpinLockGuard hold(&formatLock_);
        if (openPins_ > 0 && --openPins_ == 0) {
            InterlockedExchange(&settings_.PinOpen, 0);
        }
    }
    // The lock under which the region changes, only while no pin exists, and with it the
    // capture format the camera offers. Nothing else is called while it is held.
    PKSPIN_LOCK FormatLock() { return &formatLock_; }
    // What the camera's filter factory offers; the device owns it from Add on (null before,
    // and in a context made without Add).
    CaptureOffer* Offer() const { return offer_; }
    VOID AdoptOffer(CaptureOffer* offer) { offer_ = offer; }
    // A consistent copy of `range` when it is this camera's offered range, taken under the
    // format lock; false (and nothing copied) for any other range.
    BOOLEAN CopyOfferedRange(const KSDATARANGE* range, KS_DATARANGE_VIDEO* copy);
    Acquisition* GetAcquisition() const { return acquisition_; }
    // Stops the acquisition's stream, if any, and frees its buffers (a device stop or removal
    // while a pin is open; the pin's own stop then finds it idle).
    VOID EndStreaming();
    // The camera was surprise-removed; never cleared (a camera plugged in again is a new device).
    VOID MarkRemoved() { InterlockedExchange(&removed_, 1); }
    BOOLEAN Removed() const { return ReadInterlocked(&removed_) != 0; }
    VOID SetAcquisition(Acquisition* acquisition) { acquisition_ = acquisition; }
    // The colour state is created and freed by the capture pin while property requests of any
    // filter of the device may be handing values to it: both sides go through the colour-state
    // lock. The pin publishes a new state with SetColorState and withdraws it with
    // SetColorState(nullptr) before freeing it; a property handler uses it only inside a
    // ColorStateAccess.
    ColorState* GetColorState() const { return colorState_; }
    VOID SetColorState(ColorState* colorState);
    PKMUTEX ColorStateMutex() { return &colorStateLock_; }
    CapturePin* OpenPin() const { return openPin_; }
    VOID SetOpenPin(CapturePin* pin) { openPin_ = pin; }
    PVOID ConnectionFormat() const { return connectionFormat_; }
    VOID SetConnectionFormat(PVOID format) { connectionFormat_ = format; }

protected:
    VOID SetRawFrameGeometry(ULONG offset, ULONG pitch, ULONG size);
    // The end of a camera start in free-running start mode: the start command, the trigger,
    // exposure and gain programmed again from the settings, and the base Bayer phase handed
    // to the colour state (if any). `started` tells whether the start so far reached the
    // camera; the result reports the whole start.
    NTSTATUS CompleteCameraStart(ColorState* colorState, BOOLEAN started);
    VOID InitializationDone() { initializing_ = FALSE; }

private:
    struct _KSDEVICE* const device_;
    UsbTransport transport_;
    CameraSettings settings_;
    LONG bayerPhase_ = 0;
    CommandChannel commands_;   // the register and control command area and its lock
    CommandPacket framePacket_; // the per-frame frame request
    volatile LONG exclusiveClaim_ = 0;
    volatile LONG removed_ = 0;
    ULONG openPins_ = 0; // under formatLock_
    KSPIN_LOCK formatLock_;
    CaptureOffer* offer_ = nullptr; // owned
    Acquisition* acquisition_ = nullptr;
    ColorState* colorState_ = nullptr;
    KMUTEX colorStateLock_;
    CapturePin* openPin_ = nullptr;
    PVOID connectionFormat_ = nullptr;
    ULONG rawFrameOffset_ = 0;
    ULONG rawFramePitch_ = 0;
    ULONG rawFrameSize_ = 0;
    BOOLEAN lastReadFailedFast_ = FALSE;
    BOOLEAN splitRead_ = TRUE; // frames are read with the split bulk read; never cleared
    LONG baseBayerPhase_;
    BOOLEAN initializing_ = TRUE; // until the first sensor initialisation has finished
    const CameraModelTraits& traits_;
    DriverGlobals& globals_;
};

// Holds the device's colour state in place for a short hand-over of values.
class ColorStateAccess {
public:
    explicit ColorStateAccess(CameraDevice& device, CallSite site = CallSite::Here())
        : device_(device), hold_(device.ColorStateMutex(), site) {}

    // Null while no capture pin has one.
    ColorState* get() const { return device_.GetColorState(); }

private:
    CameraDevice& device_;
    MutexGuard hold_;
};

} // namespace zyn
