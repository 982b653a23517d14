// The steps of ConvertFrame, each working on the frame snapshot, and the vector paths that the
// per-pixel families are built for.
#pragma once

#include "driver/pipeline/color_state.h"

namespace zyn {

// Copies the raw rows into the working buffer and, for frames of at least 8 x 8 pixels, fills
// the two border rows and columns around them with same-colour samples.
VOID PadWorkingBuffer(const FrameSnapshot& frame, const UCHAR* firstSample, ULONG pitch);

// Frames this large in both directions have their border filled and may be read from the raw
// frame, with the working buffer padding only the ends of the rows.
constexpr ULONG kSmallestBorderedSide = 8;
// A row's steps from pixel kLeadingPixels on that end two columns before the width read the
// raw frame; the first and the last ones read the working buffer: columns -2 to
// kLeadingPixels + 1 and, at most kTrailingColumns back from the width, to width + 1.
constexpr ULONG kLeadingPixels = 16;
constexpr ULONG kTrailingColumns = 20;

// PadWorkingBuffer for such a frame, but only in the columns the row ends' steps read.
VOID PadWorkingEdges(const FrameSnapshot& frame, const UCHAR* firstSample, ULONG pitch);

// Colour output: demosaic, gains, fixed-point colour matrix.
VOID ConvertColor(const FrameSnapshot& frame, LONG phase, VectorPath path);

// Grey output: demosaic, gains, luma weights 77, 150 and 29 in 256ths.
VOID ConvertMono(const FrameSnapshot& frame, LONG phase, VectorPath path);

// Grey-world white balance: demosaics the frame without gains, sums each colour and replaces
// the snapshot's gains by 128 x green sum / red sum, 128 and 128 x green sum / blue sum. A zero
// sum leaves the gains as they are.
VOID GatherWhiteBalance(FrameSnapshot& frame, LONG phase, VectorPath path);

// Replaces each interior sample that differs from the mean of its four same-colour neighbours
// by at least the threshold with that mean, in raster order and in place.
VOID DotFilter(const FrameSnapshot& frame, LONG threshold);

// The form of a gain (128 = 1.0) the families use: twice the gain, limited to 32767 first. From
// 32767 up every non-zero value comes out as 255 anyway, so a gain of 65536 or more gives 255
// rather than what is left of it modulo 65536, and a negative one gives 0.
inline USHORT GainForConversion(LONG gain) {
    const LONG limited = gain <= 0 ? 0 : gain > 32767 ? 32767 : gain;
    return static_cast<USHORT>(limited * 2);
}
constexpr USHORT kUnitGain = 256; // GainForConversion(128): the value stays as it is

// What a colour frame is converted with, prepared once per frame from the snapshot. Each output
// channel is built from two unsigned sums, one of the matrix entries above 0 and one of the
// magnitudes of the others: out = (positive >> 6) - (negative >> 6), limited to 0 to 255.
struct ColorPlan {
    enum class Form {
        // Every entry on both sums (one of each pair is 0); 16-bit sums.
        General,
        // Every diagonal entry above 0 and the others 0 or below, as the correction matrix and
        // raised saturation make it: the positive sum has one product, the negative two.
        DiagonalPositive,
        // Some sum can pass 65535: 32-bit sums, since a wrapped sum turns the brightest pixels
        // dark and a saturated one tints them.
        Wide,
    };
    Form form = Form::General;
    int unitGains =
        0; // a bit for each gain of 128, which needs no multiply: 1 red, 2 green, 4 blue
    USHORT positive[3][3] = {};   // [input][output]: |entry| where the entry is above 0, else 0
    USHORT negative[3][3] = {};   // |entry| where the entry is 0 or below, else 0
    USHORT positiveStart[3] = {}; // the constant row
    USHORT negativeStart[3] = {};
    USHORT gain[3] = {}; // GainForConversion of red, green, blue
};

// The per-instruction-set bodies of the three families (one translation unit each).
template <VectorPath P>
VOID ConvertColorWith(const FrameSnapshot& frame, LONG phase, const ColorPlan& plan);
template <VectorPath P> VOID ConvertMonoWith(const FrameSnapshot& frame, LONG phase);
template <VectorPath P> VOID SumColoursWith(const FrameSnapshot& frame, LONG phase, ULONG sums[3]);

} // namespace zyn
