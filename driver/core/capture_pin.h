// The video capture pin: creation and closing, the connection format, the state changes that
// claim the device, build the colour state and drive the acquisition, and the process routine
// that fills client frames with the newest converted frame, each picture once.
//
// Kernel streaming serialises the pin's dispatch calls except Process, which runs on a thread
// of its own; Process touches the stream only between the acquisition's BeginProcessing and
// ProcessingDone, which the stop paths wait for.
#pragma once

#include "driver/core/capture_format.h"
#include "driver/core/frame_copy.h"
#include "driver/pool_object.h"
#include "driver/pool_tags.h"
#include "driver/wdk.h"

namespace zyn {

class Acquisition;
class CameraDevice;

// Counters of the pin's life, for diagnostics.
struct CapturePinCounters {
    ULONG framesDelivered; // client frames completed with a picture
    ULONG framesTooSmall;  // client frames completed empty: the picture did not fit
};

class CapturePin : public PoolObject<kTagContext> {
public:
    CapturePin(PKSPIN pin, CameraDevice* device);
    // A pin freed without having been stopped gives up the stream and the device first.
    virtual ~CapturePin();
    CapturePin(const CapturePin&) = delete;
    CapturePin& operator=(const CapturePin&) = delete;

    static CapturePin* FromPin(PKSPIN pin) { return static_cast<CapturePin*>(pin->Context); }
    static VOID ReleaseFromBag(PVOID pin);

    // Asks kernel streaming to run Process (the acquisition thread calls this per frame).
    virtual VOID AttemptProcessing();

    // Dispatch.
    static NTSTATUS Create(PKSPIN pin, PIRP irp);
    VOID Close();
    NTSTATUS Process();
    NTSTATUS SetDataFormat(PKSDATAFORMAT oldFormat, const KSDATARANGE* range);
    NTSTATUS SetDeviceState(KSSTATE to, KSSTATE from);

    VOID GetCounters(CapturePinCounters* counters) const;
    const KS_VIDEOINFOHEADER& VideoInfo() const { return videoInfo_; }
    ULONG Stride() const { return stride_; }
    BOOLEAN Acquired() const { return acquired_; }
    Acquisition* GetAcquisition() const { return acquisition_; }

private:
    NTSTATUS Initialize();
    NTSTATUS Acquire();
    NTSTATUS StartStreaming();
    VOID StopStreaming();
    VOID GiveUpDevice();
    // Completes every queued client frame empty (the camera is gone).
    VOID ReturnQueuedFrames();
    // How the picture goes into one client frame.
    struct Delivery {
        FrameLayout layout;
        FrameOrientation orientation;
        BOOLEAN fits; // the client frame holds the picture
    };
    Delivery PlanDelivery(PKSSTREAM_POINTER streamPointer) const;
    // Fills the client frame (unless the picture was converted into it already) and its
    // header; FALSE when the picture did not fit.
    BOOLEAN Deliver(PKSSTREAM_POINTER streamPointer, const Delivery& delivery, BOOLEAN filled);

    PKSPIN const pin_;
    CameraDevice* const device_;
    Acquisition* const acquisition_;
    LONG runState_ = 0; // 0 not streaming, 1 paused after running, 2 running
    PIKSREFERENCECLOCK clock_ = nullptr;
    KS_VIDEOINFOHEADER videoInfo_ = {};
    BOOLEAN acquired_ = FALSE;
    BOOLEAN counted_ = FALSE; // counted among the device's open pins
    ULONG stride_ = 0;
    // The stream's geometry, fixed when it starts.
    ULONG rgbWidth_ = 0;
    ULONG rgbHeight_ = 0;
    ULONG outputWidth_ = 0;
    ULONG outputHeight_ = 0;
    // The RGB frame holds a picture no client frame has carried yet (process routine only).
    BOOLEAN undelivered_ = FALSE;
    ULONG deliveredInStream_ = 0; // frames delivered since the stream started
    volatile LONG framesDelivered_ = 0;
    volatile LONG framesTooSmall_ = 0;
};

// The capture pin's dispatch table (KSPIN_DESCRIPTOR_EX Dispatch).
extern const KSPIN_DISPATCH kCapturePinDispatch;

// The capture pin's data intersection handler (KSPIN_DESCRIPTOR_EX IntersectHandler);
// `context` is the filter. It works on a copy of the camera's range taken under the camera's
// format lock, so a region change on another filter of the camera cannot tear it.
NTSTATUS CapturePinIntersect(PVOID context, PIRP irp, PKSP_PIN pin, PKSDATARANGE callerRange,
                             PKSDATARANGE descriptorRange, ULONG bufferSize, PVOID data,
                             PULONG dataSize);

} // namespace zyn
