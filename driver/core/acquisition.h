// The acquisition of one camera: a system thread that reads raw frames into two raw buffers
// in turn, and the conversion of the newest of them into the RGB frame buffer on the capture
// pin's process routine.
//
// The device creates one when it starts (`new (NonPagedPool) Acquisition(device)`) and hands
// it to its object bag with ReleaseFromBag. The capture pin drives it from its state changes:
//   idle (nothing allocated) --Start--> running (buffers, thread)
//   running --SetPaused(TRUE)--> paused (buffers kept, no thread) --SetPaused(FALSE)--> running
//   paused or running --Release--> idle
//
// The process routine brackets its work with BeginProcessing and ProcessingDone. The stop
// paths close the raw slots before they look at the busy flag, and ProcessingDone clears the
// flag before it signals: a stop waits exactly for a process routine that may still touch the
// buffers, and one that begins afterwards finds the stream closed and touches nothing.
#pragma once

#include "driver/core/frame_copy.h"
#include "driver/core/raw_slots.h"
#include "driver/pool_object.h"
#include "driver/pool_tags.h"
#include "driver/wdk.h"

namespace zyn {

class CameraDevice;
class ColorState;

// Counters of the current stream (since the last Start), for diagnostics.
struct AcquisitionCounters {
    ULONG framesRead;         // raw frames read completely
    ULONG readFailures;       // reads that brought no frame (timeouts among them)
    ULONG framesConverted;    // raw frames converted into the RGB frame buffer
    ULONG framesDropped;      // raw frames overwritten or dropped before conversion
    ULONGLONG conversionTime; // spent converting, in 100-ns units
};

class Acquisition : public PoolObject<kTagContext> {
public:
    enum State : LONG {
        kIdle = 0,
        kPaused = 1,
        kRunning = 2,
    };

    explicit Acquisition(CameraDevice* device);
    // Stops a thread still running and frees the buffers.
    ~Acquisition();
    Acquisition(const Acquisition&) = delete;
    Acquisition& operator=(const Acquisition&) = delete;

    // The object bag's release callback.
    static VOID ReleaseFromBag(PVOID acquisition);

    // Programs the camera for streaming, allocates the raw buffers and the RGB frame buffer of
    // width x height pixels, gives the colour state its frame size, working buffer and output,
    // and starts the thread. On failure nothing stays allocated and the state stays idle.
    NTSTATUS Start(ColorState* colorState, ULONG width, ULONG height);
    // TRUE while running: stops the thread, keeps the buffers. FALSE while paused: starts a
    // new thread with both slots free; while idle (the device stopped the stream under a
    // paused pin) STATUS_INVALID_DEVICE_STATE. Anything else does nothing.
    NTSTATUS SetPaused(BOOLEAN pause);
    // Stops the thread if any and frees every buffer; the colour state loses its output and
    // working buffer. Idle afterwards.
    //
    // Start, SetPaused and Release may come from the pin's state changes and from the device's
    // Plug and Play dispatch at once; they take turns on a lock of the acquisition's own,
    // which is never held around a call into kernel streaming.
    VOID Release();

    // The process routine's side. BeginProcessing sets the busy flag and reports whether the
    // buffers are there; when not, the busy flag is already cleared again and the routine
    // must not call the others. ConvertReady converts the newest ready raw frame, if any;
    // given client rows it converts straight into them and says so in *intoClient (FALSE
    // when the frame was not converted there: the RGB frame buffer then holds the picture, as
    // without client rows). RgbFrame is the converted frame, valid until ProcessingDone.
    BOOLEAN BeginProcessing();
    BOOLEAN ConvertReady(const ClientRows* client = nullptr, BOOLEAN* intoClient = nullptr);
    const UCHAR* RgbFrame() const { return rgbBuffer_; }
    // The number of the raw frame in the RGB frame buffer, counted from 1 since the start;
    // 0 before the first conversion. The process routine's, like the buffer.
    ULONG ConvertedFrameNumber() const { return convertedNumber_; }
    VOID ProcessingDone();

    ULONG FramesRead() const;
    VOID GetCounters(AcquisitionCounters* counters) const;
    State CurrentState() const;
    BOOLEAN ThreadRunning() const { return thread_ != nullptr; }

private:
    static VOID NTAPI ThreadRoutine(PVOID context);
    VOID ReadLoop();
    NTSTATUS StartThread();
    VOID StopThread();
    VOID WaitForProcessing();
    VOID FreeBuffers();
    // Offset of the first converted sample in a raw frame, or FALSE when the frame does not
    // hold the whole region.
    BOOLEAN ConversionStart(PULONG offset, PULONG pitch) const;

    CameraDevice* const device_;
    ColorState* colorState_ = nullptr;
    PUCHAR rgbBuffer_ = nullptr;
    ULONG width_ = 0;
    ULONG height_ = 0;
    // Where the region starts in a raw frame and its row pitch, fixed for a stream.
    ULONG conversionOffset_ = 0;
    ULONG conversionPitch_ = 0;
    BOOLEAN conversionValid_ = FALSE;
    volatile LONG state_ = kIdle;
    KEVENT processingDone_;
    KMUTEX transitionLock_;
    PKTHREAD thread_ = nullptr;
    volatile LONG busy_ = 0;
    RawSlots slots_;
    PUCHAR rawBuffers_[RawSlots::kSlotCount] = {};
    ULONG rawFrameSize_ = 0;
    // The frame number of each slot's frame, written by the thread while it fills the slot.
    ULONG slotNumbers_[RawSlots::kSlotCount] = {};
    ULONG convertedNumber_ = 0;
    volatile LONG runFlag_ = 0;
    volatile LONG framesRead_ = 0;
    volatile LONG readFailures_ = 0;
    volatile LONG framesConverted_ = 0;
    volatile LONG64 conversionTime_ = 0; // written by the process routine only
};

} // namespace zyn
