// The steps of ConvertFrame, each working on the frame snapshot.
#pragma once

#include "driver/pipeline/color_state.h"

namespace zyn {

// Copies the raw rows into the working buffer and, for frames of at least 8 x 8 pixels, fills
// the two border rows and columns around them with same-colour samples.
VOID PadWorkingBuffer(const FrameSnapshot& frame, const UCHAR* firstSample, ULONG pitch);

// Colour output: demosaic, gains, fixed-point colour matrix.
VOID ConvertColor(const FrameSnapshot& frame, LONG phase);

// Grey output: demosaic, gains, luma weights 77, 150 and 29 in 256ths.
VOID ConvertMono(const FrameSnapshot& frame, LONG phase);

// Grey-world white balance: demosaics the frame without gains, sums each colour and replaces
// the snapshot's gains by 128 x green sum / red sum, 128 and 128 x green sum / blue sum. A zero
// sum leaves the gains as they are.
VOID GatherWhiteBalance(FrameSnapshot& frame, LONG phase);

// Replaces each interior sample that differs from the mean of its four same-colour neighbours
// by at least the threshold with that mean, in raster order and in place.
VOID DotFilter(const FrameSnapshot& frame, LONG threshold);

} // namespace zyn
