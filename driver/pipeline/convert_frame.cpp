#include "driver/kernel/interlocked.h"
#include "driver/pipeline/extended_state_guard.h"
#include "driver/pipeline/floating_point_guard.h"
#include "driver/pipeline/pipeline_routines.h"

namespace zyn {

namespace {

// Two columns each side mirror the columns of the same Bayer parity, over the border rows too.
VOID PadSideColumns(PUCHAR origin, SIZE_T workPitch, ULONG width, LONG height) {
    for (LONG y = -2; y < height + 2; ++y) {
        PUCHAR p = origin + static_cast<LONG_PTR>(y) * static_cast<LONG_PTR>(workPitch);
        p[-1] = p[1];
        p[-2] = p[2];
        p[width] = p[width - 2];
        p[width + 1] = p[width - 3];
    }
}

} // namespace

VOID PadWorkingBuffer(const FrameSnapshot& frame, const UCHAR* firstSample, ULONG pitch) {
    const SIZE_T workPitch = frame.workPitch;
    const ULONG width = frame.width;
    const ULONG height = frame.height;
    PUCHAR origin = frame.imageOrigin;
    for (ULONG y = 0; y < height; ++y) {
        RtlCopyMemory(origin + y * workPitch, firstSample + static_cast<SIZE_T>(y) * pitch, width);
    }
    if (width < 8 || height < 8) {
        return;
    }
    // Border rows copy rows of the same Bayer parity: two above, two below (four rows up).
    auto row = [&](LONG y) {
        return origin + static_cast<LONG_PTR>(y) * static_cast<LONG_PTR>(workPitch);
    };
    const LONG h = static_cast<LONG>(height);
    RtlCopyMemory(row(-2), row(2), width);
    RtlCopyMemory(row(-1), row(1), width);
    RtlCopyMemory(row(h), row(h - 4), width);
    RtlCopyMemory(row(h + 1), row(h - 3), width);
    // Then the border columns of every row, the border rows included, so the corners too.
    PadSideColumns(origin, workPitch, width, h);
}

VOID PadWorkingEdges(const FrameSnapshot& frame, const UCHAR* firstSample, ULONG pitch) {
    const SIZE_T workPitch = frame.workPitch;
    const ULONG width = frame.width;
    const LONG h = static_cast<LONG>(frame.height);
    PUCHAR origin = frame.imageOrigin;
    auto row = [&](LONG y) {
        return origin + static_cast<LONG_PTR>(y) * static_cast<LONG_PTR>(workPitch);
    };
    // Columns 0 to leading - 1 and trailing to width - 1; the sides beyond come from them.
    const ULONG leading = width < kLeadingPixels + 2 ? width : kLeadingPixels + 2;
    const ULONG trailing = width > kTrailingColumns ? width - kTrailingColumns : 0;
    auto copyEnds = [&](PUCHAR to, const UCHAR* from) {
        if (trailing <= leading) {
            RtlCopyMemory(to, from, width);
        } else {
            RtlCopyMemory(to, from, leading);
            RtlCopyMemory(to + trailing, from + trailing, width - trailing);
        }
    };
    for (LONG y = 0; y < h; ++y) {
        copyEnds(row(y), firstSample + static_cast<SIZE_T>(y) * pitch);
    }
    copyEnds(row(-2), row(2));
    copyEnds(row(-1), row(1));
    copyEnds(row(h), row(h - 4));
    copyEnds(row(h + 1), row(h - 3));
    PadSideColumns(origin, workPitch, width, h);
}

VOID ConvertFrame(ColorState* state, const UCHAR* raw, ULONG startOffset, ULONG pitch) {
    if (state == nullptr) {
        return;
    }
    (VOID) ConvertFrameInto(state, raw, startOffset, pitch, state->OutputBuffer(),
                            static_cast<LONG_PTR>(state->Snapshot().width) * 4);
}

BOOLEAN ConvertFrameInto(ColorState* state, const UCHAR* raw, ULONG startOffset, ULONG pitch,
                         PUCHAR firstRow, LONG_PTR rowStep) {
    if (state == nullptr || raw == nullptr || state->outputBuffer_ == nullptr ||
        state->workBuffer_ == nullptr || firstRow == nullptr) {
        return FALSE;
    }
    // On 32-bit x86 the vector code below needs the floating-point state saved like any
    // floating-point code; without it the frame is left as it is.
    FloatingPointGuard floatingPoint(state->saveFloatingPoint_);
    if (!floatingPoint.Saved()) {
        return FALSE;
    }
    // The path is chosen once for the whole frame. A wider one runs with the extended processor
    // state saved on this thread; when that fails the frame takes SSE2.
    auto path = static_cast<VectorPath>(ReadInterlocked(&state->requestedPath_));
    ExtendedStateGuard extendedState(ExtendedStateMask(path));
    if (!extendedState.Saved()) {
        path = VectorPath::Sse2;
    }
    InterlockedExchange(&state->lastFramePath_, static_cast<LONG>(path));

    FrameSnapshot& frame = state->snapshot_;
    // The dot filter corrects the frame in place, so it needs all of it in the working
    // buffer, as frames too small for a border do. Otherwise the rows are read where they
    // lie, and only their ends are padded.
    const LONG dotThreshold = ReadInterlocked(&state->dotThreshold_);
    if (dotThreshold > 0 || frame.width < kSmallestBorderedSide ||
        frame.height < kSmallestBorderedSide) {
        PadWorkingBuffer(frame, raw + startOffset, pitch);
        frame.rawOrigin = nullptr;
        frame.rawPitch = 0;
    } else {
        PadWorkingEdges(frame, raw + startOffset, pitch);
        frame.rawOrigin = raw + startOffset;
        frame.rawPitch = pitch;
    }

    frame.output = firstRow;
    frame.outputPitch = rowStep;
    frame.redGain = ReadInterlocked(&state->redGain_);
    frame.greenGain = ReadInterlocked(&state->greenGain_);
    frame.blueGain = ReadInterlocked(&state->blueGain_);
    const LONG phase = ReadInterlocked(&state->bayerPhase_);

    // The statistics demosaic the whole frame before the conversion may start, and the
    // conversion demosaics it again: keeping the first pass's values for the second costs
    // more than the work it saves, since a frame's worth of them does not stay in the caches
    // while the raw frame does.
    if (ReadInterlocked(&state->whiteBalance_) != 0) {
        GatherWhiteBalance(frame, phase, path);
        // The gains found become the ones getters report and that stay when balancing stops.
        InterlockedExchange(&state->redGain_, frame.redGain);
        InterlockedExchange(&state->greenGain_, frame.greenGain);
        InterlockedExchange(&state->blueGain_, frame.blueGain);
    }

    state->CopyFixedMatrix(frame.matrix);
    for (int k = 0; k < kFixedMatrixEntries; ++k) {
        frame.signFlags[k] = frame.matrix[k] > 0 ? 1 : 0;
    }

    // After the statistics, so they see the dots; the border keeps them too.
    if (dotThreshold > 0) {
        DotFilter(frame, dotThreshold);
    }

    if (ReadInterlocked(&state->colorEnable_) != 0) {
        ConvertColor(frame, phase, path);
    } else {
        ConvertMono(frame, phase, path);
    }
    return TRUE;
}

} // namespace zyn
