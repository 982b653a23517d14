// The vector skeleton shared by the three per-pixel families (colour, grey, white balance
// statistics): walks the working buffer in the conversion's scan order, one step of I::kPixels
// pixels at a time with even and odd columns in separate 16-bit lanes, and demosaics each step
// with the 5 x 5 linear kernels. The vector width I and the Bayer phase are template
// arguments: the phase decides at compile time which kernel runs at which site, so the inner
// loop has no branch. A family supplies an operation that receives each step's red, green and
// blue values.
//
// A row takes full steps of the widest width while they fit inside the row, then narrower
// ones, and ends with one 16-pixel step whose pixels beyond the width the operation discards:
// every load stays inside the working buffer's padded row or the raw frame's row, whatever
// the width. The steps that read the padded columns at either end take the working buffer;
// those in between may read the raw frame itself, so that most of it is never copied.
#pragma once

#include "driver/pipeline/color_state.h"
#include "driver/pipeline/pipeline_routines.h"
#include "driver/pipeline/vector_isa.h"

namespace zyn {
namespace {
namespace bayer {

enum class Site { Red, Blue, GreenInRedRow, GreenInBlueRow };

// Site of a sample by the parity of its row and column. Phases: 0 GRBG, 1 BGGR, 2 RGGB, 3 GBRG.
constexpr Site SiteAt(int phase, int rowParity, int columnParity) {
    constexpr Site kSites[4][2][2] = {
        {{Site::GreenInRedRow, Site::Red}, {Site::Blue, Site::GreenInBlueRow}},
        {{Site::Blue, Site::GreenInBlueRow}, {Site::GreenInRedRow, Site::Red}},
        {{Site::Red, Site::GreenInRedRow}, {Site::GreenInBlueRow, Site::Blue}},
        {{Site::GreenInBlueRow, Site::Blue}, {Site::Red, Site::GreenInRedRow}},
    };
    return kSites[phase][rowParity][columnParity];
}

// Red, green and blue of the pixels of one column parity, 0 to 255 in each 16-bit lane.
template <class I> struct Rgb { typename I::V red, green, blue; };

// Samples around the pixels of one column parity: centre, the four direct neighbours, the
// four diagonal ones and the four two steps away in the same row or column.
template <class I> struct Neighbourhood {
    typename I::V c, n, s, w, e, nw, ne, sw, se, n2, s2, w2, e2;
};

template <class I> struct Lanes { typename I::V even, odd; };

// I::kPixels samples from p on, split into even and odd columns.
template <class I> ZYN_VECTOR_INLINE Lanes<I> Split(const UCHAR* p) {
    const typename I::V bytes = I::Load(p);
    return {I::And(bytes, I::Set16(0x00FF)), I::template Shr16<8>(bytes)};
}

// The five rows the kernels of one row read, from two above to two below.
struct Rows {
    const UCHAR* up2;
    const UCHAR* up;
    const UCHAR* here;
    const UCHAR* down;
    const UCHAR* down2;
};

// The neighbourhoods of the pixels starting at column x0. Unused neighbours cost nothing:
// everything is inlined and the loads a site does not need are dropped.
template <class I>
ZYN_VECTOR_INLINE void Gather(const Rows& rows, ULONG x0, Neighbourhood<I>& even,
                              Neighbourhood<I>& odd) {
    const UCHAR* const above = rows.up + x0;
    const UCHAR* const centre = rows.here + x0;
    const UCHAR* const below = rows.down + x0;
    const Lanes<I> up2 = Split<I>(rows.up2 + x0);
    const Lanes<I> upLeft = Split<I>(above - 2);
    const Lanes<I> up = Split<I>(above);
    const Lanes<I> upRight = Split<I>(above + 2);
    const Lanes<I> left = Split<I>(centre - 2);
    const Lanes<I> here = Split<I>(centre);
    const Lanes<I> right = Split<I>(centre + 2);
    const Lanes<I> downLeft = Split<I>(below - 2);
    const Lanes<I> down = Split<I>(below);
    const Lanes<I> downRight = Split<I>(below + 2);
    const Lanes<I> down2 = Split<I>(rows.down2 + x0);

    even.c = here.even;
    even.w = left.odd;
    even.e = here.odd;
    even.w2 = left.even;
    even.e2 = right.even;
    even.n = up.even;
    even.s = down.even;
    even.nw = upLeft.odd;
    even.ne = up.odd;
    even.sw = downLeft.odd;
    even.se = down.odd;
    even.n2 = up2.even;
    even.s2 = down2.even;

    odd.c = here.odd;
    odd.w = here.even;
    odd.e = right.even;
    odd.w2 = left.odd;
    odd.e2 = right.odd;
    odd.n = up.odd;
    odd.s = down.odd;
    odd.nw = up.even;
    odd.ne = upRight.even;
    odd.sw = down.even;
    odd.se = downRight.even;
    odd.n2 = up2.odd;
    odd.s2 = down2.odd;
}

// (positive + Round - negative) >> Shift, limited to 0 to 255: a negative sum becomes 0 before
// rounding. Subtracting with unsigned saturation does both at once, because the rounding
// constant is below 1 << Shift: a sum from -Round to -1 rounds to 0 either way.
template <class I, int Round, int Shift>
ZYN_VECTOR_INLINE typename I::V Finish(typename I::V positive, typename I::V negative) {
    const typename I::V sum = I::SubSatU16(I::Add16(positive, I::Set16(Round)), negative);
    return I::Min16(I::template Shr16<Shift>(sum), I::Set16(255));
}

// Green at a red or blue site.
template <class I> ZYN_VECTOR_INLINE typename I::V GreenAtRedOrBlue(const Neighbourhood<I>& p) {
    const auto cross = I::Add16(I::Add16(p.n, p.s), I::Add16(p.w, p.e));
    const auto distant = I::Add16(I::Add16(p.n2, p.s2), I::Add16(p.w2, p.e2));
    return Finish<I, 4, 3>(I::Add16(I::template Shl16<2>(p.c), I::template Shl16<1>(cross)),
                           distant);
}

// Red at a blue site, blue at a red site.
template <class I> ZYN_VECTOR_INLINE typename I::V Diagonal(const Neighbourhood<I>& p) {
    const auto diagonal = I::Add16(I::Add16(p.nw, p.ne), I::Add16(p.sw, p.se));
    const auto distant = I::Add16(I::Add16(p.n2, p.s2), I::Add16(p.w2, p.e2));
    const auto twelve = I::Add16(I::template Shl16<3>(p.c), I::template Shl16<2>(p.c));
    return Finish<I, 8, 4>(I::Add16(twelve, I::template Shl16<2>(diagonal)),
                           I::Add16(I::template Shl16<1>(distant), distant));
}

// At a green site: the colour of its left and right neighbours (horizontal) and of its upper
// and lower neighbours (vertical).
template <class I>
ZYN_VECTOR_INLINE void GreenSiteColours(const Neighbourhood<I>& p, typename I::V& horizontal,
                                        typename I::V& vertical) {
    const auto diagonal = I::Add16(I::Add16(p.nw, p.ne), I::Add16(p.sw, p.se));
    const auto ten = I::Add16(I::template Shl16<3>(p.c), I::template Shl16<1>(p.c));
    const auto rowFar = I::Add16(p.w2, p.e2);
    const auto columnFar = I::Add16(p.n2, p.s2);
    // Both share 10 C, -2 diagonal; each adds its own near pair x 8, far pair x -2, and the
    // other direction's far pair once.
    const auto negativeCommon = I::template Shl16<1>(diagonal);
    horizontal = Finish<I, 8, 4>(
        I::Add16(I::Add16(ten, I::template Shl16<3>(I::Add16(p.w, p.e))), columnFar),
        I::Add16(negativeCommon, I::template Shl16<1>(rowFar)));
    vertical =
        Finish<I, 8, 4>(I::Add16(I::Add16(ten, I::template Shl16<3>(I::Add16(p.n, p.s))), rowFar),
                        I::Add16(negativeCommon, I::template Shl16<1>(columnFar)));
}

template <class I, Site S> ZYN_VECTOR_INLINE Rgb<I> Demosaic(const Neighbourhood<I>& p) {
    if constexpr (S == Site::Red) {
        return {p.c, GreenAtRedOrBlue<I>(p), Diagonal<I>(p)};
    } else if constexpr (S == Site::Blue) {
        return {Diagonal<I>(p), GreenAtRedOrBlue<I>(p), p.c};
    } else {
        typename I::V horizontal, vertical;
        GreenSiteColours<I>(p, horizontal, vertical);
        if constexpr (S == Site::GreenInRedRow) {
            return {horizontal, p.c, vertical};
        } else {
            return {vertical, p.c, horizontal};
        }
    }
}

// Full steps of width I from x0 while they end by `end`, then of the narrower widths.
// Returns where they stopped: fewer than 16 pixels before `end`.
template <class I, Site EvenSite, Site OddSite, class Operation>
ZYN_VECTOR_INLINE ULONG FullSteps(const Rows& rows, ULONG x0, ULONG end, Operation& operation) {
    // What the operation keeps across steps of this width (coefficients, sums) lives in a
    // local for the loop, so that it stays in registers.
    auto locals = operation.template Constants<I>();
    Neighbourhood<I> even, odd;
    for (; x0 + I::kPixels <= end; x0 += I::kPixels) {
        Gather<I>(rows, x0, even, odd);
        operation.template Step<I>(locals, x0, Demosaic<I, EvenSite>(even),
                                   Demosaic<I, OddSite>(odd));
    }
    operation.template EndSteps<I>(locals);
    if constexpr (I::kPixels > isa::Sse2::kPixels) {
        x0 = FullSteps<typename I::Half, EvenSite, OddSite>(rows, x0, end, operation);
    }
    return x0;
}

// The rows of the working buffer around row y, which hold the padded columns at both ends,
// and the rows the steps in between read: the same, or the raw frame's where the snapshot
// has one (the border rows above and below repeat rows of the same parity, as in the working
// buffer: rows -2 and -1 are rows 2 and 1, rows H and H + 1 are rows H - 4 and H - 3).
struct RowSources {
    Rows ends, inside;
};

ZYN_VECTOR_INLINE RowSources SourcesOf(const FrameSnapshot& frame, ULONG y) {
    const LONG_PTR workPitch = frame.workPitch;
    const UCHAR* const centre = frame.imageOrigin + static_cast<LONG_PTR>(y) * workPitch;
    const Rows ends = {centre - 2 * workPitch, centre - workPitch, centre, centre + workPitch,
                       centre + 2 * workPitch};
    if (frame.rawOrigin == nullptr) {
        return {ends, ends};
    }
    const LONG height = static_cast<LONG>(frame.height);
    auto raw = [&](LONG r) {
        r = r < 0 ? -r : r >= height ? r - 4 : r;
        return frame.rawOrigin + static_cast<SIZE_T>(r) * frame.rawPitch;
    };
    const LONG row = static_cast<LONG>(y);
    return {ends, {raw(row - 2), raw(row - 1), raw(row), raw(row + 1), raw(row + 2)}};
}

// One row: a first step at the padded left end, the steps inside that end two columns before
// the width (begun where the operation asks, at most 14 pixels back into the first step), the
// full steps after them, and the last, partial 16-pixel step.
template <class I, Site EvenSite, Site OddSite, class Operation>
ZYN_VECTOR_INLINE void ConvertRow(const FrameSnapshot& frame, ULONG y, Operation& operation) {
    const RowSources rows = SourcesOf(frame, y);
    const ULONG width = frame.width;
    operation.BeginRow(y);
    ULONG x0 = FullSteps<isa::Sse2, EvenSite, OddSite>(
        rows.ends, 0, width < kLeadingPixels ? width : kLeadingPixels, operation);
    if (x0 == kLeadingPixels) {
        x0 = operation.InsideStart();
    }
    x0 = FullSteps<I, EvenSite, OddSite>(rows.inside, x0, width > 2 ? width - 2 : 0, operation);
    x0 = FullSteps<isa::Sse2, EvenSite, OddSite>(rows.ends, x0, width, operation);
    if (x0 < width) {
        Neighbourhood<isa::Sse2> even, odd;
        Gather<isa::Sse2>(rows.ends, x0, even, odd);
        operation.LastStep(x0, Demosaic<isa::Sse2, EvenSite>(even),
                           Demosaic<isa::Sse2, OddSite>(odd));
    }
}

// The whole frame, top to bottom, both row types of the phase unrolled.
template <class I, int Phase, class Operation>
void ConvertRows(const FrameSnapshot& frame, Operation& operation) {
    constexpr Site kEvenRowEven = SiteAt(Phase, 0, 0);
    constexpr Site kEvenRowOdd = SiteAt(Phase, 0, 1);
    constexpr Site kOddRowEven = SiteAt(Phase, 1, 0);
    constexpr Site kOddRowOdd = SiteAt(Phase, 1, 1);
    ULONG y = 0;
    for (; y + 1 < frame.height; y += 2) {
        ConvertRow<I, kEvenRowEven, kEvenRowOdd>(frame, y, operation);
        ConvertRow<I, kOddRowEven, kOddRowOdd>(frame, y + 1, operation);
    }
    if (y < frame.height) {
        ConvertRow<I, kEvenRowEven, kEvenRowOdd>(frame, y, operation);
    }
}

// Runs the operation with the routine generated for the phase (0 to 3).
template <class I, class Operation>
void ConvertRowsForPhase(LONG phase, const FrameSnapshot& frame, Operation& operation) {
    switch (phase & 3) {
    case 0:
        ConvertRows<I, 0>(frame, operation);
        break;
    case 1:
        ConvertRows<I, 1>(frame, operation);
        break;
    case 2:
        ConvertRows<I, 2>(frame, operation);
        break;
    default:
        ConvertRows<I, 3>(frame, operation);
        break;
    }
}

// min(255, floor(v x gain / 128)) for values 0 to 255, with the gain in its doubled form
// (GainForConversion): (v x 256) x (2 x gain) / 65536.
template <class I>
ZYN_VECTOR_INLINE typename I::V ApplyGain(typename I::V value, typename I::V doubledGain) {
    return I::MinU16(I::MulHiU16(I::template Shl16<8>(value), doubledGain), I::Set16(255));
}

// Even and odd lanes (values 0 to 255 and beyond, limited to 255) as bytes in pixel order
// within each 128-bit block.
template <class I>
ZYN_VECTOR_INLINE typename I::V InterleaveBytes(typename I::V even, typename I::V odd) {
    const typename I::V packed = I::PackU8(even, odd);
    return I::UnpackLo8(packed, I::ShiftBytesRight8(packed));
}

// I::kPixels pixels as blue, green, red, 255; streamed past the caches where Stream is set
// (out aligned to 4 x I::kPixels bytes).
template <class I, bool Stream = false>
ZYN_VECTOR_INLINE void StorePixels(UCHAR* out, typename I::V blue, typename I::V green,
                                   typename I::V red) {
    blue = I::StoreOrder(blue);
    green = I::StoreOrder(green);
    red = I::StoreOrder(red);
    const typename I::V alpha = I::Set16(-1);
    const typename I::V blueGreenLow = I::UnpackLo8(blue, green);
    const typename I::V blueGreenHigh = I::UnpackHi8(blue, green);
    const typename I::V redAlphaLow = I::UnpackLo8(red, alpha);
    const typename I::V redAlphaHigh = I::UnpackHi8(red, alpha);
    constexpr SIZE_T kQuarter = I::kPixels; // bytes of a quarter of the step's pixels
    auto store = [](UCHAR* p, typename I::V v) {
        if constexpr (Stream) {
            I::Stream(p, v);
        } else {
            I::Store(p, v);
        }
    };
    store(out, I::UnpackLo16(blueGreenLow, redAlphaLow));
    store(out + kQuarter, I::UnpackHi16(blueGreenLow, redAlphaLow));
    store(out + 2 * kQuarter, I::UnpackLo16(blueGreenHigh, redAlphaHigh));
    store(out + 3 * kQuarter, I::UnpackHi16(blueGreenHigh, redAlphaHigh));
}

// Where the stores of a frame's rows may stream past the caches: output that nothing reads
// again before the frame is handed over gains from it (no read of each line before it is
// written, no eviction of the rows still to be read). A streamed store must start on a 64-byte
// line. Rows a multiple of 64 bytes apart all start at the same place within a line; when that
// place is a whole number of pixel pairs (the Bayer pattern's period) before the next line, the
// steps after the first begin up to 14 pixels early, on that line, and repeat what the first
// step wrote there. Returns the pixel those steps begin at, or kNoStreaming.
constexpr ULONG kNoStreaming = ~0u;

inline ULONG StreamingStart(const FrameSnapshot& frame) {
    constexpr ULONG_PTR kLine = 64;
    static_assert(kLeadingPixels * 4 == kLine, "the first step ends on the row's next line");
    const ULONG_PTR start = reinterpret_cast<ULONG_PTR>(frame.output);
    if (((static_cast<ULONG_PTR>(frame.outputPitch) & (kLine - 1)) | (start & 7)) != 0) {
        return kNoStreaming;
    }
    return kLeadingPixels - static_cast<ULONG>((start & (kLine - 1)) / 4);
}

// Writes a step's pixels: all of them, or for the last step of a row only those inside the
// width. Whether the stores stream is chosen once per frame: the test in each step goes the
// same way every time and costs next to nothing, where a routine per store kind would double
// the code of every family, phase and plan. A streaming writer's stores are ordered before
// anything that follows the frame by the fence its end of frame issues.
class PixelWriter {
public:
    explicit PixelWriter(const FrameSnapshot& frame)
        : frame_(frame), streamFrom_(StreamingStart(frame)) {}
    ~PixelWriter() {
        if (streamFrom_ != kNoStreaming) {
            _mm_sfence();
        }
    }
    PixelWriter(const PixelWriter&) = delete;
    PixelWriter& operator=(const PixelWriter&) = delete;

    // Where a row's steps after the first begin: on a line where the stores stream.
    ZYN_VECTOR_INLINE ULONG InsideStart() const {
        return streamFrom_ != kNoStreaming ? streamFrom_ : kLeadingPixels;
    }
    ZYN_VECTOR_INLINE void BeginRow(ULONG y) {
        row_ = frame_.output + static_cast<LONG_PTR>(y) * frame_.outputPitch;
    }
    template <class I>
    ZYN_VECTOR_INLINE void Write(ULONG x0, typename I::V blue, typename I::V green,
                                 typename I::V red) {
        UCHAR* const out = row_ + static_cast<SIZE_T>(x0) * 4;
        if (x0 >= streamFrom_) {
            StorePixels<I, true>(out, blue, green, red);
        } else {
            StorePixels<I, false>(out, blue, green, red);
        }
    }
    ZYN_VECTOR_INLINE void WriteLast(ULONG x0, __m128i blue, __m128i green, __m128i red) {
        alignas(16) UCHAR pixels[isa::Sse2::kPixels * 4];
        StorePixels<isa::Sse2>(pixels, blue, green, red);
        RtlCopyMemory(row_ + static_cast<SIZE_T>(x0) * 4, pixels,
                      static_cast<SIZE_T>(frame_.width - x0) * 4);
    }

private:
    const FrameSnapshot& frame_;
    const ULONG streamFrom_;
    PUCHAR row_ = nullptr;
};

} // namespace bayer
} // namespace
} // namespace zyn
