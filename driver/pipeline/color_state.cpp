#include "driver/pipeline/color_state.h"

#include <emmintrin.h>

#include "driver/kernel/interlocked.h"
#include "driver/kernel/lock_guards.h"
#include "driver/pipeline/floating_point_guard.h"

namespace zyn {

ColorState::ColorState(const ColorStateTraits& traits)
    : saveFloatingPoint_(traits.saveFloatingPoint),
      keepWorkBufferOfSameSize_(traits.keepWorkBufferOfSameSize),
      supportedPaths_(traits.saveFloatingPoint ? VectorPathBit(VectorPath::Sse2)
                                               : SupportedVectorPaths()),
      requestedPath_(static_cast<LONG>(WidestVectorPath(supportedPaths_))) {
    ExInitializeFastMutex(&matrixLock_);
    // Until a rebuild succeeds, frames use the identity.
    for (int k = 0; k < kFixedMatrixEntries; ++k) {
        fixedMatrix_[k] = k % 5 == 0 ? kFixedMatrixOne : 0;
    }
    FastMutexGuard lock(&matrixLock_);
    RebuildLocked();
}

ColorState::~ColorState() {
    FreeWorkBuffer();
}

NTSTATUS ColorState::RequestVectorPath(VectorPath path) {
    if ((supportedPaths_ & VectorPathBit(path)) == 0) {
        return STATUS_NOT_SUPPORTED;
    }
    InterlockedExchange(&requestedPath_, static_cast<LONG>(path));
    return STATUS_SUCCESS;
}

VOID ColorState::RequestWidestVectorPath() {
    InterlockedExchange(&requestedPath_, static_cast<LONG>(WidestVectorPath(supportedPaths_)));
}

VOID ColorState::SetBayerPhase(LONG phase) {
    InterlockedExchange(&bayerPhase_, phase);
}
VOID ColorState::SetColorEnable(LONG enable) {
    InterlockedExchange(&colorEnable_, enable);
}
VOID ColorState::SetWhiteBalance(LONG enable) {
    InterlockedExchange(&whiteBalance_, enable);
}
VOID ColorState::SetRedGain(LONG gain) {
    InterlockedExchange(&redGain_, gain);
}
VOID ColorState::SetGreenGain(LONG gain) {
    InterlockedExchange(&greenGain_, gain);
}
VOID ColorState::SetBlueGain(LONG gain) {
    InterlockedExchange(&blueGain_, gain);
}
VOID ColorState::SetDotThreshold(LONG threshold) {
    InterlockedExchange(&dotThreshold_, threshold);
}

VOID ColorState::SetColorCorrection(LONG enable) {
    SetMatrixSetting(&colorCorrection_, enable, kCorrectionBit);
}
VOID ColorState::SetBrightness(LONG brightness) {
    SetMatrixSetting(&brightness_, brightness, kBrightnessBit);
}
VOID ColorState::SetContrast(LONG contrast) {
    SetMatrixSetting(&contrast_, contrast, kContrastBit);
}
VOID ColorState::SetSaturation(LONG saturation) {
    SetMatrixSetting(&saturation_, saturation, kSaturationBit);
}
VOID ColorState::SetHue(LONG hue) {
    SetMatrixSetting(&hue_, hue, kHueBit);
}

LONG ColorState::GetBayerPhase() const {
    return ReadInterlocked(&bayerPhase_);
}
LONG ColorState::GetColorEnable() const {
    return ReadInterlocked(&colorEnable_);
}
LONG ColorState::GetWhiteBalance() const {
    return ReadInterlocked(&whiteBalance_);
}
LONG ColorState::GetRedGain() const {
    return ReadInterlocked(&redGain_);
}
LONG ColorState::GetGreenGain() const {
    return ReadInterlocked(&greenGain_);
}
LONG ColorState::GetBlueGain() const {
    return ReadInterlocked(&blueGain_);
}
LONG ColorState::GetDotThreshold() const {
    return ReadInterlocked(&dotThreshold_);
}
LONG ColorState::GetColorCorrection() const {
    return ReadInterlocked(&colorCorrection_);
}
LONG ColorState::GetBrightness() const {
    return ReadInterlocked(&brightness_);
}
LONG ColorState::GetContrast() const {
    return ReadInterlocked(&contrast_);
}
LONG ColorState::GetSaturation() const {
    return ReadInterlocked(&saturation_);
}
LONG ColorState::GetHue() const {
    return ReadInterlocked(&hue_);
}

VOID ColorState::SetMatrixSetting(volatile LONG* field, LONG value, ULONG matrixBit) {
    FastMutexGuard lock(&matrixLock_);
    // A repeated value costs nothing, unless an earlier rebuild could not run.
    if (ReadInterlocked(field) == value && staleMatrices_ == 0) {
        return;
    }
    InterlockedExchange(field, value);
    staleMatrices_ |= matrixBit;
    RebuildLocked();
}

VOID ColorState::RebuildColorMatrix() {
    FastMutexGuard lock(&matrixLock_);
    RebuildLocked();
}

VOID ColorState::RebuildLocked() {
    FloatingPointGuard floatingPoint(saveFloatingPoint_);
    if (!floatingPoint.Saved()) {
        return;
    }
    const ULONG stale = staleMatrices_;
    if (stale & kBaseBit) {
        baseMatrix_ = IdentityMatrix();
    }
    if (stale & kCorrectionBit) {
        correctionMatrix_ = CorrectionMatrix(ReadInterlocked(&colorCorrection_));
    }
    if (stale & kBrightnessBit) {
        brightnessMatrix_ = BrightnessMatrix(ReadInterlocked(&brightness_));
    }
    if (stale & kContrastBit) {
        contrastMatrix_ = ContrastMatrix(ReadInterlocked(&contrast_));
    }
    if (stale & kSaturationBit) {
        saturationMatrix_ = SaturationMatrix(ReadInterlocked(&saturation_));
    }
    if (stale & kHueBit) {
        hueMatrix_ = HueMatrix(ReadInterlocked(&hue_));
    }
    staleMatrices_ = 0;
    combinedMatrix_ = CombineColorMatrices(baseMatrix_, correctionMatrix_, brightnessMatrix_,
                                           contrastMatrix_, saturationMatrix_, hueMatrix_);
    LONG fixed[kFixedMatrixEntries];
    ToFixedPoint(combinedMatrix_, fixed);
    PublishFixedMatrix(fixed);
}

VOID ColorState::PublishFixedMatrix(const LONG matrix[kFixedMatrixEntries]) {
    CriticalRegionGuard region;
    InterlockedIncrement(&matrixSequence_);
    for (int k = 0; k < kFixedMatrixEntries; ++k) {
        InterlockedExchange(&fixedMatrix_[k], matrix[k]);
    }
    InterlockedIncrement(&matrixSequence_);
}

VOID ColorState::CopyFixedMatrix(LONG matrix[kFixedMatrixEntries]) const {
    CriticalRegionGuard region;
    for (;;) {
        const LONG before = ReadInterlocked(&matrixSequence_);
        if ((before & 1) == 0) {
            for (int k = 0; k < kFixedMatrixEntries; ++k) {
                matrix[k] = ReadInterlocked(&fixedMatrix_[k]);
            }
            if (ReadInterlocked(&matrixSequence_) == before) {
                return;
            }
        }
        _mm_pause(); // a setter is publishing; it finishes within a few hundred cycles
    }
}

ULONG ColorState::MatrixPublications() const {
    return static_cast<ULONG>(ReadInterlocked(&matrixSequence_)) / 2;
}

VOID ColorState::SetFrameSize(ULONG width, ULONG height) {
    width_ = width;
    height_ = height;
    if (width > kMaxFrameSide || height > kMaxFrameSide) {
        workPitch_ = 0;
        workingSize_ = 0;
        return;
    }
    // Two border columns on each side, the last group of 16 pixels read in full, and 5 bytes
    // in front so that the loads around pixel 0 stay inside the row.
    workPitch_ = (width & ~15u) + 27;
    workingSize_ = workPitch_ * (height + (height & 1) + 4);
}

NTSTATUS ColorState::AllocateWorkBuffer() {
    if (workBuffer_ != nullptr && !(keepWorkBufferOfSameSize_ && allocatedSize_ == workingSize_)) {
        FreeWorkBuffer();
    }
    if (workBuffer_ == nullptr) {
        if (workingSize_ == 0) {
            return STATUS_INVALID_PARAMETER;
        }
        workBuffer_ =
            static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, workingSize_, kTagFrame));
        if (workBuffer_ == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        // Frames under 8 pixels get no border; what the kernels read there stays defined.
        RtlZeroMemory(workBuffer_, workingSize_);
        allocatedSize_ = workingSize_;
    }
    snapshot_.imageOrigin = workBuffer_ + 5 + 2 * workPitch_;
    snapshot_.workPitch = workPitch_;
    snapshot_.width = width_;
    snapshot_.height = height_;
    return STATUS_SUCCESS;
}

VOID ColorState::FreeWorkBuffer() {
    if (workBuffer_ != nullptr) {
        ExFreePoolWithTag(workBuffer_, kTagFrame);
        workBuffer_ = nullptr;
        allocatedSize_ = 0;
    }
    snapshot_.imageOrigin = nullptr;
}

VOID ColorState::SetOutputBuffer(PUCHAR buffer) {
    outputBuffer_ = buffer;
}

} // namespace zyn
