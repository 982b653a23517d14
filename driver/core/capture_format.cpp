#include "driver/core/capture_format.h"

namespace zyn {

namespace {

// Local copy: the image links no library that defines the platform's GUID objects.
constexpr GUID kVideoInfoSpecifier = {STATICGUIDOF(KSDATAFORMAT_SPECIFIER_VIDEOINFO)};

// A bitmap header size whose video info size (biSize + 48) still fits in 32 bits.
constexpr ULONG kLargestBitmapHeader = 0xFFFFFFD0u - 1;

BOOLEAN SameBytes(const VOID* a, const VOID* b, SIZE_T bytes) {
    const UCHAR* left = static_cast<const UCHAR*>(a);
    const UCHAR* right = static_cast<const UCHAR*>(b);
    for (SIZE_T i = 0; i < bytes; ++i) {
        if (left[i] != right[i]) {
            return FALSE;
        }
    }
    return TRUE;
}

BOOLEAN SameGuid(const GUID& a, const GUID& b) {
    return SameBytes(&a, &b, sizeof(GUID));
}

const KS_VIDEOINFOHEADER* VideoInfoOf(const KSDATAFORMAT* format) {
    return reinterpret_cast<const KS_VIDEOINFOHEADER*>(format + 1);
}

ULONGLONG Magnitude(LONG value) {
    return value < 0 ? static_cast<ULONGLONG>(-static_cast<LONGLONG>(value))
                     : static_cast<ULONGLONG>(value);
}

} // namespace

NTSTATUS CheckCaptureFormat(const KSDATAFORMAT* format, const KSDATARANGE* range,
                            AcceptedFormat* accepted) {
    if (!SameGuid(format->Specifier, kVideoInfoSpecifier) ||
        format->FormatSize < kVideoFormatSize || range->FormatSize < kVideoRangeSize) {
        return STATUS_NO_MATCH;
    }
    const KS_BITMAPINFOHEADER& bitmap = VideoInfoOf(format)->bmiHeader;
    if (bitmap.biSize > kLargestBitmapHeader ||
        format->FormatSize <
            static_cast<ULONGLONG>(bitmap.biSize) + sizeof(KSDATAFORMAT) + kVideoInfoPreHeader) {
        return STATUS_INVALID_PARAMETER;
    }
    const KS_BITMAPINFOHEADER& rangeBitmap =
        reinterpret_cast<const KS_DATARANGE_VIDEO*>(range)->VideoInfoHeader.bmiHeader;
    if (bitmap.biWidth < rangeBitmap.biWidth ||
        Magnitude(bitmap.biHeight) != Magnitude(rangeBitmap.biHeight) ||
        bitmap.biCompression != rangeBitmap.biCompression) {
        return STATUS_NO_MATCH;
    }
    // In 64 bits: a product that wraps must not pass for a small image.
    if (bitmap.biSizeImage <
        static_cast<ULONGLONG>(bitmap.biWidth) * Magnitude(bitmap.biHeight) * 4) {
        return STATUS_INVALID_PARAMETER;
    }
    if (accepted != nullptr) {
        CopyVideoInfo(format, &accepted->videoInfo);
        accepted->stride = static_cast<ULONG>(bitmap.biWidth) * 4;
    }
    return STATUS_SUCCESS;
}

VOID CopyVideoInfo(const KSDATAFORMAT* format, KS_VIDEOINFOHEADER* videoInfo) {
    RtlZeroMemory(videoInfo, sizeof(*videoInfo));
    const ULONGLONG wanted =
        static_cast<ULONGLONG>(VideoInfoOf(format)->bmiHeader.biSize) + kVideoInfoPreHeader;
    const SIZE_T bytes =
        wanted < sizeof(*videoInfo) ? static_cast<SIZE_T>(wanted) : sizeof(*videoInfo);
    RtlCopyMemory(videoInfo, VideoInfoOf(format), bytes);
}

NTSTATUS IntersectCaptureFormat(const KSDATARANGE* callerRange, const KSDATARANGE* descriptorRange,
                                ULONG bufferSize, PVOID data, PULONG dataSize) {
    if (!SameGuid(callerRange->Specifier, kVideoInfoSpecifier) ||
        callerRange->FormatSize < kVideoRangeSize ||
        descriptorRange->FormatSize < kVideoRangeSize) {
        return STATUS_NO_MATCH;
    }
    const auto* caller = reinterpret_cast<const KS_DATARANGE_VIDEO*>(callerRange);
    const auto* ours = reinterpret_cast<const KS_DATARANGE_VIDEO*>(descriptorRange);
    if (caller->bFixedSizeSamples != ours->bFixedSizeSamples ||
        caller->bTemporalCompression != ours->bTemporalCompression ||
        caller->StreamDescriptionFlags != ours->StreamDescriptionFlags ||
        caller->MemoryAllocationFlags != ours->MemoryAllocationFlags ||
        !SameBytes(&caller->ConfigCaps, &ours->ConfigCaps, sizeof(caller->ConfigCaps))) {
        return STATUS_NO_MATCH;
    }
    const KS_BITMAPINFOHEADER& bitmap = caller->VideoInfoHeader.bmiHeader;
    if (bitmap.biSize > kLargestBitmapHeader ||
        callerRange->FormatSize < static_cast<ULONGLONG>(bitmap.biSize) +
                                      FIELD_OFFSET(KS_DATARANGE_VIDEO, VideoInfoHeader) +
                                      kVideoInfoPreHeader) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG videoInfoSize = bitmap.biSize + kVideoInfoPreHeader;
    if (videoInfoSize > 0xFFFFFFFFu - sizeof(KSDATAFORMAT)) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG resultSize = sizeof(KSDATAFORMAT) + videoInfoSize;
    *dataSize = resultSize;
    if (bufferSize == 0) {
        return STATUS_BUFFER_OVERFLOW;
    }
    if (bufferSize < resultSize) {
        return STATUS_BUFFER_TOO_SMALL;
    }

    auto* format = static_cast<PKSDATAFORMAT>(data);
    RtlCopyMemory(format, &ours->DataRange, sizeof(KSDATAFORMAT));
    format->FormatSize = resultSize;
    auto* videoInfo = reinterpret_cast<PKS_VIDEOINFOHEADER>(format + 1);
    RtlCopyMemory(videoInfo, &caller->VideoInfoHeader, videoInfoSize);
    // Rows of whole 32-bit words.
    const ULONG rowBytes =
        (static_cast<ULONG>(bitmap.biBitCount) * static_cast<ULONG>(bitmap.biWidth) + 31) / 32 * 4;
    const ULONG imageBytes = rowBytes * static_cast<ULONG>(Magnitude(bitmap.biHeight));
    videoInfo->bmiHeader.biSizeImage = imageBytes;
    format->SampleSize = imageBytes;
    return STATUS_SUCCESS;
}

} // namespace zyn
