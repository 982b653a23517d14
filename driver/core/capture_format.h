// The capture pin's format rules: which connection formats a video range accepts, and the
// format the pin proposes for a client's range (the data intersection).
#pragma once

#include "driver/wdk.h"

namespace zyn {

// Size of a data range of the video kind and of a format with a 40-byte bitmap header.
constexpr ULONG kVideoRangeSize = sizeof(KS_DATARANGE_VIDEO);
constexpr ULONG kVideoFormatSize = sizeof(KSDATAFORMAT) + sizeof(KS_VIDEOINFOHEADER);
// The bytes of a KS_VIDEOINFOHEADER in front of its bitmap header.
constexpr ULONG kVideoInfoPreHeader = FIELD_OFFSET(KS_VIDEOINFOHEADER, bmiHeader);

// What an accepted connection format tells the pin.
struct AcceptedFormat {
    KS_VIDEOINFOHEADER videoInfo; // the format's video info, at most its first 88 bytes
    ULONG stride;                 // client row stride in bytes: biWidth x 4
};

// Checks `format` (FormatSize bytes) against the video range it matched: STATUS_NO_MATCH for
// another kind of format or picture, STATUS_INVALID_PARAMETER for one whose sizes do not add
// up. On success `accepted`, when given, describes the format.
NTSTATUS CheckCaptureFormat(const KSDATAFORMAT* format, const KSDATARANGE* range,
                            AcceptedFormat* accepted);

// The video info a connection format carries behind its KSDATAFORMAT: biSize + 48 bytes, at
// most a whole KS_VIDEOINFOHEADER; the rest of `videoInfo` is zeroed.
VOID CopyVideoInfo(const KSDATAFORMAT* format, KS_VIDEOINFOHEADER* videoInfo);

// The data intersection: the format for `callerRange` from the pin's `descriptorRange`. With a
// buffer size of 0 it reports the size needed and STATUS_BUFFER_OVERFLOW.
NTSTATUS IntersectCaptureFormat(const KSDATARANGE* callerRange, const KSDATARANGE* descriptorRange,
                                ULONG bufferSize, PVOID data, PULONG dataSize);

} // namespace zyn
