#include "driver/core/acquisition.h"

#include "driver/core/camera_device.h"
#include "driver/core/capture_pin.h"
#include "driver/kernel/interlocked.h"
#include "driver/kernel/lock_guards.h"
#include "driver/pipeline/color_state.h"

namespace zyn {

namespace {

// 10 ms in 100-ns units: a hundred retries a second find a camera that comes back, and cost
// nothing while it stays away.
constexpr LONGLONG kFailedReadBackOff = 10 * 10000;

PUCHAR AllocateFrameBuffer(SIZE_T bytes) {
    return static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, bytes, kTagFrame));
}

VOID FreeFrameBuffer(PUCHAR* buffer) {
    if (*buffer != nullptr) {
        ExFreePoolWithTag(*buffer, kTagFrame);
        *buffer = nullptr;
    }
}

ULONG ReadCounter(const volatile LONG* counter) {
    return static_cast<ULONG>(ReadInterlocked(counter));
}

// The conversion time has one writer, the process routine. The 32-bit kernel has no 64-bit
// interlocked exchange; there a reader may see a sum torn between two frames, which a
// diagnostic can afford.
#if defined(ZYN_SIMULATED) || defined(_WIN64)
VOID StoreTime(volatile LONG64* time, LONG64 value) {
    InterlockedExchange64(time, value);
}
LONG64 LoadTime(volatile LONG64* time) {
    return ReadInterlocked(time);
}
#else
VOID StoreTime(volatile LONG64* time, LONG64 value) {
    *time = value;
}
LONG64 LoadTime(volatile LONG64* time) {
    return *time;
}
#endif

} // namespace

Acquisition::Acquisition(CameraDevice* device) : device_(device) {
    KeInitializeEvent(&processingDone_, NotificationEvent, FALSE);
    KeInitializeMutex(&transitionLock_, 0);
}

Acquisition::~Acquisition() {
    Release();
}

VOID Acquisition::ReleaseFromBag(PVOID acquisition) {
    delete static_cast<Acquisition*>(acquisition);
}

NTSTATUS Acquisition::Start(ColorState* colorState, ULONG width, ULONG height) {
    MutexGuard transition(&transitionLock_);
    if (CurrentState() != kIdle) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    if (colorState == nullptr || width == 0 || height == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONGLONG rgbBytes = static_cast<ULONGLONG>(width) * height * 4;
    if (rgbBytes != static_cast<SIZE_T>(rgbBytes)) {
        return STATUS_INVALID_PARAMETER;
    }

    InterlockedExchange(&busy_, 0);
    InterlockedExchange(&framesRead_, 0);
    InterlockedExchange(&readFailures_, 0);
    InterlockedExchange(&framesConverted_, 0);
    convertedNumber_ = 0;
    StoreTime(&conversionTime_, 0);
    slots_.ResetDropped();

    // A camera that did not take its start would never send a frame; the client hears of it
    // now rather than waiting for frames that cannot come.
    NTSTATUS status = device_->StartCapture(colorState, width, height);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    rawFrameSize_ = device_->GetRawFrameSize();
    if (rawFrameSize_ != 0) {
        for (PUCHAR& raw : rawBuffers_) {
            raw = AllocateFrameBuffer(rawFrameSize_);
        }
    }
    rgbBuffer_ = AllocateFrameBuffer(static_cast<SIZE_T>(rgbBytes));
    if (rgbBuffer_ == nullptr ||
        (rawFrameSize_ != 0 && (rawBuffers_[0] == nullptr || rawBuffers_[1] == nullptr))) {
        FreeBuffers();
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    // The client may be handed this buffer before a frame was converted into it (no working
    // buffer, a region outside the raw frame): it must not carry old pool contents.
    RtlZeroMemory(rgbBuffer_, static_cast<SIZE_T>(rgbBytes));

    colorState_ = colorState;
    width_ = width;
    height_ = height;
    conversionValid_ = ConversionStart(&conversionOffset_, &conversionPitch_);
    colorState->SetFrameSize(width, height);
    // Without a working buffer frames are not converted; the stream runs all the same.
    (VOID) colorState->AllocateWorkBuffer();
    colorState->SetOutputBuffer(rgbBuffer_);

    InterlockedExchange(&state_, kRunning);
    status = StartThread();
    if (!NT_SUCCESS(status)) {
        slots_.Close();
        FreeBuffers();
        InterlockedExchange(&state_, kIdle);
    }
    return status;
}

NTSTATUS Acquisition::SetPaused(BOOLEAN pause) {
    MutexGuard transition(&transitionLock_);
    const State state = CurrentState();
    if (pause && state == kRunning) {
        StopThread();
        WaitForProcessing();
        InterlockedExchange(&state_, kPaused);
    } else if (!pause && state == kPaused) {
        InterlockedExchange(&state_, kRunning);
        const NTSTATUS status = StartThread();
        if (!NT_SUCCESS(status)) {
            InterlockedExchange(&state_, kPaused);
            return status;
        }
    } else if (!pause && state == kIdle) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    return STATUS_SUCCESS;
}

VOID Acquisition::Release() {
    MutexGuard transition(&transitionLock_);
    if (CurrentState() == kIdle && thread_ == nullptr) {
        return;
    }
    // Closed first, so that a process routine beginning from now on leaves the buffers alone
    // and one already busy is waited for below.
    slots_.Close();
    StopThread();
    WaitForProcessing();
    FreeBuffers();
    InterlockedExchange(&state_, kIdle);
}

BOOLEAN Acquisition::BeginProcessing() {
    InterlockedExchange(&busy_, 1);
    if (slots_.IsOpen()) {
        return TRUE;
    }
    ProcessingDone();
    return FALSE;
}

BOOLEAN Acquisition::ConvertReady(const ClientRows* client, BOOLEAN* intoClient) {
    if (intoClient != nullptr) {
        *intoClient = FALSE;
    }
    if (device_->Traits().stopChecksRunFlag && ReadInterlocked(&runFlag_) == 0) {
        return FALSE;
    }
    const ULONG slot = slots_.BeginConvert();
    if (slot == RawSlots::kNoSlot) {
        return FALSE;
    }
    BOOLEAN converted = FALSE;
    if (conversionValid_ && rawBuffers_[slot] != nullptr) {
        LARGE_INTEGER frequency;
        const LARGE_INTEGER begin = KeQueryPerformanceCounter(&frequency);
        // Straight into the client's rows saves copying the whole picture again. Where the
        // conversion does not run, the client gets the RGB frame buffer as it is.
        if (client != nullptr) {
            const BOOLEAN filled =
                ConvertFrameInto(colorState_, rawBuffers_[slot], conversionOffset_,
                                 conversionPitch_, client->firstRow, client->rowStep);
            if (intoClient != nullptr) {
                *intoClient = filled;
            }
        } else {
            ConvertFrame(colorState_, rawBuffers_[slot], conversionOffset_, conversionPitch_);
        }
        const LARGE_INTEGER end = KeQueryPerformanceCounter(nullptr);
        if (frequency.QuadPart > 0) {
            const LONGLONG elapsed =
                (end.QuadPart - begin.QuadPart) * 10000000 / frequency.QuadPart;
            StoreTime(&conversionTime_, LoadTime(&conversionTime_) + elapsed);
        }
        InterlockedIncrement(&framesConverted_);
        convertedNumber_ = slotNumbers_[slot];
        converted = TRUE;
    }
    slots_.EndConvert(slot);
    return converted;
}

VOID Acquisition::ProcessingDone() {
    // Cleared before the event is set: a stop resets the event before it tests the flag, so
    // it either sees the flag clear or waits for a signal still to come.
    InterlockedExchange(&busy_, 0);
    KeSetEvent(&processingDone_, IO_NO_INCREMENT, FALSE);
}

ULONG Acquisition::FramesRead() const {
    return ReadCounter(&framesRead_);
}

VOID Acquisition::GetCounters(AcquisitionCounters* counters) const {
    counters->framesRead = ReadCounter(&framesRead_);
    counters->readFailures = ReadCounter(&readFailures_);
    counters->framesConverted = ReadCounter(&framesConverted_);
    counters->framesDropped = slots_.Dropped();
    counters->conversionTime =
        static_cast<ULONGLONG>(LoadTime(const_cast<volatile LONG64*>(&conversionTime_)));
}

Acquisition::State Acquisition::CurrentState() const {
    return static_cast<State>(ReadInterlocked(&state_));
}

VOID NTAPI Acquisition::ThreadRoutine(PVOID context) {
    static_cast<Acquisition*>(context)->ReadLoop();
    PsTerminateSystemThread(STATUS_SUCCESS);
}

VOID Acquisition::ReadLoop() {
    while (ReadInterlocked(&runFlag_) != 0) {
        const ULONG slot = slots_.BeginFill();
        BOOLEAN read = FALSE;
        if (CurrentState() == kRunning) {
            read = device_->ReadRawFrame(rawBuffers_[slot]);
        }
        if (read) {
            // Counted before the frame is offered: a process routine that finds it ready
            // must not find the stream still without frames.
            // The slot's lock orders the number before the slot becomes ready.
            slotNumbers_[slot] = static_cast<ULONG>(InterlockedIncrement(&framesRead_));
            slots_.EndFill(slot, TRUE);
            if (device_->Traits().stopChecksRunFlag && ReadInterlocked(&runFlag_) == 0) {
                break;
            }
            device_->NotifyFrame();
        } else {
            // A timeout is the idle state of a triggered camera: the next read starts at once.
            InterlockedIncrement(&readFailures_);
            slots_.EndFill(slot, FALSE);
            // A read that fails at once would otherwise spin this thread flat out, as after
            // the camera was unplugged, until the application stops the stream.
            if (device_->LastReadFailedFast()) {
                LARGE_INTEGER interval;
                interval.QuadPart = -kFailedReadBackOff;
                (VOID) KeDelayExecutionThread(KernelMode, FALSE, &interval);
            }
        }
    }
    // A camera pulled out: the pin hands its queued client frames back. Asked from here, as
    // the thread ends, because the pin cannot close before this thread has been waited for.
    if (device_->Removed()) {
        if (CapturePin* pin = device_->OpenPin()) {
            pin->AttemptProcessing();
        }
    }
}

NTSTATUS Acquisition::StartThread() {
    slots_.Open();
    InterlockedExchange(&runFlag_, 1);
    device_->ResumeReads();
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE handle = nullptr;
    NTSTATUS status = PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, &attributes, nullptr,
                                           nullptr, &Acquisition::ThreadRoutine, this);
    if (!NT_SUCCESS(status)) {
        InterlockedExchange(&runFlag_, 0);
        return status;
    }
    PVOID thread = nullptr;
    status = ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode,
                                       &thread, nullptr);
    if (NT_SUCCESS(status)) {
        thread_ = static_cast<PKTHREAD>(thread);
    } else {
        // Not expected for a handle just created; the thread then ends at its next read.
        InterlockedExchange(&runFlag_, 0);
    }
    ZwClose(handle);
    return status;
}

VOID Acquisition::StopThread() {
    if (thread_ == nullptr) {
        return;
    }
    InterlockedExchange(&runFlag_, 0);
    if (device_->Traits().cancelReadsOnStop) {
        device_->CancelReads();
    }
    // Ends a frame read in flight instead of letting it run into its timeout, also one whose
    // frame request is still on its way (it then submits nothing), and a command the camera
    // does not take.
    device_->HaltReads();
    (VOID) device_->AbortPipes();
    KeWaitForSingleObject(thread_, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(thread_);
    thread_ = nullptr;
}

VOID Acquisition::WaitForProcessing() {
    KeResetEvent(&processingDone_);
    if (ReadInterlocked(&busy_) != 0) {
        KeWaitForSingleObject(&processingDone_, Executive, KernelMode, FALSE, nullptr);
    }
}

VOID Acquisition::FreeBuffers() {
    if (colorState_ != nullptr) {
        colorState_->SetOutputBuffer(nullptr);
        colorState_->FreeWorkBuffer();
        colorState_ = nullptr;
    }
    FreeFrameBuffer(&rgbBuffer_);
    for (PUCHAR& raw : rawBuffers_) {
        FreeFrameBuffer(&raw);
    }
    rawFrameSize_ = 0;
    conversionValid_ = FALSE;
    // The thread is gone: no frame read is in progress.
    device_->Transport().FreeChunkKits();
}

BOOLEAN Acquisition::ConversionStart(PULONG offset, PULONG pitch) const {
    // The region cannot change while a pin exists, so it is taken once for the stream.
    const ULONGLONG rowPitch = device_->GetRawFramePitch();
    ULONGLONG start = device_->GetRawFrameOffset();
    if (!device_->Traits().rawFrameIsRegion) {
        const ULONG roiX = device_->GetRoiX();
        if (static_cast<ULONGLONG>(roiX) + width_ > rowPitch) {
            return FALSE;
        }
        start += static_cast<ULONGLONG>(device_->GetRoiY()) * rowPitch + roiX;
    }
    // Reading the last row must stay inside the raw frame.
    const ULONGLONG end = start + (height_ - 1) * rowPitch + width_;
    if (rawFrameSize_ == 0 || (height_ > 1 && rowPitch < width_) || end > rawFrameSize_) {
        return FALSE;
    }
    *offset = static_cast<ULONG>(start);
    *pitch = static_cast<ULONG>(rowPitch);
    return TRUE;
}

} // namespace zyn
