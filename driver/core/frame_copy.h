// The copy of a converted frame into a client's buffer. The RGB frame buffer holds the region
// top row first, rows packed; the client's format is a bottom-up bitmap, so rows go last
// first unless the picture is to be flipped, and a mirrored picture has every row reversed.
#pragma once

#include "driver/wdk.h"

namespace zyn {

struct FrameLayout {
    ULONG sourceWidth;  // pixels per RGB frame row
    ULONG sourceHeight; // RGB frame rows
    ULONG width;        // pixels per delivered row, at most sourceWidth
    ULONG height;       // delivered rows, at most sourceHeight
    ULONG stride;       // bytes from one client row to the next; less than a row means packed
};

struct FrameOrientation {
    BOOLEAN topDown; // source row 0 first (flipped), else last row first
    BOOLEAN mirror;  // source pixel j to destination pixel width - 1 - j
};

// Bytes from a client buffer's start to the end of the last row the copy writes.
ULONGLONG ClientFrameExtent(const FrameLayout& layout);

// Where the rows of the RGB frame land in a client's buffer when they can be written there
// directly: source row 0 at firstRow, each next one rowStep bytes on.
struct ClientRows {
    PUCHAR firstRow;
    LONG_PTR rowStep;
};

// Whether a frame can be converted straight into the client's buffer instead of being copied
// there: every row whole and unmirrored (the client takes the full width and height). The rows
// then lie exactly where CopyFrameToClient would put them.
BOOLEAN DirectClientRows(const FrameLayout& layout, FrameOrientation orientation,
                         PUCHAR destination, ClientRows* rows);

// Copies the leftmost `width` pixels of `height` rows.
VOID CopyFrameToClient(const UCHAR* rgb, const FrameLayout& layout, FrameOrientation orientation,
                       PUCHAR destination);

} // namespace zyn
