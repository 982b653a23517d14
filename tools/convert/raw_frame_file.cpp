#include "tools/convert/raw_frame_file.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace convert {
namespace {

// Parses "P5 <width> <height> <maxval>" and one whitespace byte; '#' starts a comment that
// runs to the end of the line. Returns the offset of the first sample, or 0 when the bytes are
// no binary PGM.
size_t PgmHeader(const std::vector<uint8_t>& bytes, long long values[3]) {
    if (bytes.size() < 3 || bytes[0] != 'P' || bytes[1] != '5' || !std::isspace(bytes[2])) {
        return 0;
    }
    size_t i = 2;
    for (int field = 0; field < 3; ++field) {
        while (i < bytes.size() && (std::isspace(bytes[i]) || bytes[i] == '#')) {
            if (bytes[i] == '#') {
                while (i < bytes.size() && bytes[i] != '\n') {
                    ++i;
                }
            } else {
                ++i;
            }
        }
        long long value = 0;
        size_t digits = 0;
        while (i < bytes.size() && std::isdigit(bytes[i]) && digits < 9) {
            value = value * 10 + (bytes[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0) {
            return 0;
        }
        values[field] = value;
    }
    if (i >= bytes.size() || !std::isspace(bytes[i])) {
        return 0;
    }
    return i + 1;
}

} // namespace

bool ReadRawFile(const std::string& path, RawFile& file, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    long long header[3] = {0, 0, 0};
    const size_t samples = PgmHeader(file.bytes, header);
    if (samples == 0) {
        return true; // raw bytes
    }
    if (header[0] == 0 || header[1] == 0) {
        error = path + ": the PGM picture is empty";
        return false;
    }
    if (header[2] == 0 || header[2] > 255) {
        error = path + ": only 8-bit PGM pictures are supported (maximum value " +
                std::to_string(header[2]) + ")";
        return false;
    }
    const size_t needed = static_cast<size_t>(header[0] * header[1]);
    if (file.bytes.size() - samples < needed) {
        error = path +
                ": the PGM picture is truncated: " + std::to_string(file.bytes.size() - samples) +
                " of " + std::to_string(needed) + " samples";
        return false;
    }
    file.isPgm = true;
    file.pgmWidth = header[0];
    file.pgmHeight = header[1];
    file.bytes.erase(file.bytes.begin(), file.bytes.begin() + static_cast<long>(samples));
    file.bytes.resize(needed);
    return true;
}

} // namespace convert
