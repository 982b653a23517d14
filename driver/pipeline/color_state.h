// The image pipeline's per-pin colour state: a copy of every setting the frame conversion uses,
// the colour matrices built from them, the fixed-point matrix the conversion applies, the frame
// geometry with the padded working buffer, and the snapshot one frame is converted with.
//
// Settings arrive on client threads while frames are converted on the pin's process thread.
// Every setting is a 32-bit value written and read with interlocked operations. The matrix
// setters are serialised by a fast mutex; the fixed-point matrix is published under a sequence
// count, so that a frame copying it while a setter rebuilds it retries and never sees half of
// an old matrix and half of a new one.
#pragma once

#include "driver/kernel/interlocked.h"
#include "driver/pipeline/color_matrices.h"
#include "driver/pipeline/vector_path.h"
#include "driver/pool_object.h"
#include "driver/pool_tags.h"
#include "driver/wdk.h"

namespace zyn {

// How a camera model's driver wants its colour state to behave.
struct ColorStateTraits {
    // Save the floating-point state around matrix rebuilds and the per-frame vector code, and
    // skip the work when the save fails (the 32-bit x86 driver).
    bool saveFloatingPoint = false;
    // Keep the working buffer when a new stream needs one of the same size.
    bool keepWorkBufferOfSameSize = false;
};
// A driver that saves the floating-point state converts with SSE2 only: the 32-bit image has
// no wider path, and the simulated build of that driver behaves as the image does.

// What one frame is converted with; rewritten at the start of every frame.
struct FrameSnapshot {
    PUCHAR imageOrigin = nullptr; // working-buffer address of frame pixel (0, 0)
    // Raw-frame address of pixel (0, 0) when the insides of the rows are read from the raw
    // frame and the working buffer holds only what lies near the frame's edges; null when
    // the working buffer holds the whole frame.
    const UCHAR* rawOrigin = nullptr;
    ULONG rawPitch = 0;
    PUCHAR output = nullptr;  // output row 0, 4 bytes a pixel
    LONG_PTR outputPitch = 0; // bytes from one output row to the next; negative bottom-up
    ULONG workPitch = 0;
    LONG redGain = 0; // 128 = 1.0
    LONG greenGain = 0;
    LONG blueGain = 0;
    ULONG width = 0;
    ULONG height = 0;
    LONG matrix[kFixedMatrixEntries] = {};     // 64 = 1.0
    UCHAR signFlags[kFixedMatrixEntries] = {}; // 1 where the matrix entry is above 0
};

class ColorState : public PoolObject<kTagColorState> {
public:
    // Defaults (colour on, correction on, neutral brightness, contrast, saturation and hue, unit
    // gains, automatic white balance and dot filter off) with their matrices built.
    explicit ColorState(const ColorStateTraits& traits = ColorStateTraits{});
    ~ColorState();
    ColorState(const ColorState&) = delete;
    ColorState& operator=(const ColorState&) = delete;

    // Plain values: stored, nothing else.
    VOID SetBayerPhase(LONG phase); // 0 GRBG, 1 BGGR, 2 RGGB, 3 GBRG
    VOID SetColorEnable(LONG enable);
    VOID SetWhiteBalance(LONG enable);
    VOID SetRedGain(LONG gain);
    VOID SetGreenGain(LONG gain);
    VOID SetBlueGain(LONG gain);
    VOID SetDotThreshold(LONG threshold); // 0: dot filter off

    // Matrix settings: a new value rebuilds that setting's matrix and the fixed-point matrix;
    // the current value again does nothing. Values above the upper limit act as the limit.
    VOID SetColorCorrection(LONG enable);
    VOID SetBrightness(LONG brightness); // 0 to 510, neutral 255
    VOID SetContrast(LONG contrast);     // 0 to 20, neutral 10
    VOID SetSaturation(LONG saturation); // 0 to 20, neutral 10
    VOID SetHue(LONG hue);               // degrees

    LONG GetBayerPhase() const;
    LONG GetColorEnable() const;
    LONG GetWhiteBalance() const;
    LONG GetRedGain() const;
    LONG GetGreenGain() const;
    LONG GetBlueGain() const;
    LONG GetDotThreshold() const;
    LONG GetColorCorrection() const;
    LONG GetBrightness() const;
    LONG GetContrast() const;
    LONG GetSaturation() const;
    LONG GetHue() const;

    // Multiplies the six matrices into the combined matrix and publishes its fixed-point form.
    VOID RebuildColorMatrix();
    // A consistent copy of the published fixed-point matrix.
    VOID CopyFixedMatrix(LONG matrix[kFixedMatrixEntries]) const;
    // How many times the fixed-point matrix has been published.
    ULONG MatrixPublications() const;

    // Geometry and buffers, called by the acquisition while no frame is being converted.
    // Sides above kMaxFrameSide leave the state without a working size (nothing converts).
    static constexpr ULONG kMaxFrameSide = 16384;
    VOID SetFrameSize(ULONG width, ULONG height);
    // Replaces the working buffer with a zero-filled one of the working size. On failure the
    // state has no working buffer and frames are not converted.
    NTSTATUS AllocateWorkBuffer();
    VOID FreeWorkBuffer();
    VOID SetOutputBuffer(PUCHAR buffer); // null when the acquisition releases it

    ULONG Width() const { return width_; }
    ULONG Height() const { return height_; }
    ULONG WorkPitch() const { return workPitch_; }
    ULONG WorkingSize() const { return workingSize_; }
    PUCHAR WorkBuffer() const { return workBuffer_; }
    PUCHAR OutputBuffer() const { return outputBuffer_; }
    const FrameSnapshot& Snapshot() const { return snapshot_; }
    bool SavesFloatingPoint() const { return saveFloatingPoint_; }

    // The vector paths this state can convert with (VectorPathBit each), found at creation.
    ULONG SupportedPaths() const { return supportedPaths_; }
    // Frames use the widest supported path unless one is asked for (tools and tests). Asking
    // for a path that is not supported changes nothing and returns STATUS_NOT_SUPPORTED.
    NTSTATUS RequestVectorPath(VectorPath path);
    VOID RequestWidestVectorPath();
    // The path the last frame was converted with: the requested one, or SSE2 when the
    // extended processor state could not be saved for it.
    VectorPath LastFramePath() const {
        return static_cast<VectorPath>(ReadInterlocked(&lastFramePath_));
    }

private:
    friend BOOLEAN ConvertFrameInto(ColorState* state, const UCHAR* raw, ULONG startOffset,
                                    ULONG pitch, PUCHAR firstRow, LONG_PTR rowStep);

    enum MatrixBit : ULONG {
        kBaseBit = 1,
        kCorrectionBit = 2,
        kBrightnessBit = 4,
        kContrastBit = 8,
        kSaturationBit = 16,
        kHueBit = 32,
        kAllMatrixBits = 63,
    };

    VOID SetMatrixSetting(volatile LONG* field, LONG value, ULONG matrixBit);
    // With the matrix lock held: rebuilds the stale matrices and publishes the fixed-point
    // matrix. When the floating-point state cannot be saved nothing changes and the matrices
    // stay stale, to be rebuilt by the next rebuild that can save it.
    VOID RebuildLocked();
    VOID PublishFixedMatrix(const LONG matrix[kFixedMatrixEntries]);

    FrameSnapshot snapshot_;

    ULONG width_ = 0;
    ULONG height_ = 0;
    ULONG workPitch_ = 0;
    ULONG workingSize_ = 0;
    ULONG allocatedSize_ = 0;
    PUCHAR outputBuffer_ = nullptr;
    PUCHAR workBuffer_ = nullptr;

    volatile LONG bayerPhase_ = 0;
    volatile LONG colorEnable_ = 1;
    volatile LONG whiteBalance_ = 0;
    volatile LONG redGain_ = 128;
    volatile LONG greenGain_ = 128;
    volatile LONG blueGain_ = 128;
    volatile LONG colorCorrection_ = 1;
    volatile LONG brightness_ = 255;
    volatile LONG contrast_ = 10;
    volatile LONG saturation_ = 10;
    volatile LONG hue_ = 0;
    volatile LONG dotThreshold_ = 0;

    // Written only by the matrix setters, under matrixLock_.
    FAST_MUTEX matrixLock_;
    ULONG staleMatrices_ = kAllMatrixBits;
    Matrix4 baseMatrix_;
    Matrix4 correctionMatrix_;
    Matrix4 brightnessMatrix_;
    Matrix4 contrastMatrix_;
    Matrix4 saturationMatrix_;
    Matrix4 hueMatrix_;
    Matrix4 combinedMatrix_;

    // Even while stable, odd while the matrix below is being rewritten.
    volatile LONG matrixSequence_ = 0;
    volatile LONG fixedMatrix_[kFixedMatrixEntries] = {};

    const bool saveFloatingPoint_;
    const bool keepWorkBufferOfSameSize_;

    const ULONG supportedPaths_;
    volatile LONG requestedPath_; // a VectorPath
    volatile LONG lastFramePath_ = static_cast<LONG>(VectorPath::Sse2);
};

// Converts one raw Bayer frame (rows of the frame size from raw + startOffset, pitch bytes
// apart) into the registered RGB frame buffer: blue, green, red, 255 per pixel. Does nothing
// without a raw frame, an output buffer or a working buffer.
VOID ConvertFrame(ColorState* state, const UCHAR* raw, ULONG startOffset, ULONG pitch);

// The same, with the pixels going to rows of the frame width that start at firstRow and lie
// rowStep bytes apart (negative for a bottom-up picture) instead of to the RGB frame buffer,
// which keeps what it held. An output buffer must be registered all the same. Returns
// whether the frame was converted: FALSE where ConvertFrame does nothing.
BOOLEAN ConvertFrameInto(ColorState* state, const UCHAR* raw, ULONG startOffset, ULONG pitch,
                         PUCHAR firstRow, LONG_PTR rowStep);

} // namespace zyn
