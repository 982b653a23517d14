// Raw 8-bit frames as files: plain bytes, or a binary PGM whose header gives the size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace convert {

struct RawFile {
    std::vector<uint8_t> bytes; // for a PGM, the samples after the header
    bool isPgm = false;
    long long pgmWidth = 0;
    long long pgmHeight = 0;
};

// Reads the whole file. A file that starts with a binary PGM header ("P5", width, height,
// maximum value) is a PGM, which must be 8-bit and complete; anything else is raw bytes. On
// failure returns false and says why in `error`.
bool ReadRawFile(const std::string& path, RawFile& file, std::string& error);

} // namespace convert
