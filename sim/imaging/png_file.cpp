#include "sim/imaging/png_file.h"

#if ZYN_WITH_PNG
#include <png.h>
#endif

#include <cstring>

namespace imaging {

#if ZYN_WITH_PNG

bool ReadPng(const std::string& path, RgbImage& image, std::string& error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        error = path + ": not a readable PNG (" + png.message + ")";
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    if (png.width == 0 || png.height == 0 || png.width > 65535 || png.height > 65535) {
        png_image_free(&png);
        error = path + ": unsupported picture size";
        return false;
    }
    RgbImage result(static_cast<int>(png.width), static_cast<int>(png.height));
    if (!png_image_finish_read(&png, nullptr, result.pixels.data(), 0, nullptr)) {
        error = path + ": damaged PNG (" + png.message + ")";
        png_image_free(&png);
        return false;
    }
    image = std::move(result);
    return true;
}

bool WritePng(const std::string& path, const RgbImage& image, std::string& error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&png, path.c_str(), 0, image.pixels.data(), 0, nullptr)) {
        error = path + ": cannot write PNG (" + png.message + ")";
        return false;
    }
    return true;
}

#else

bool ReadPng(const std::string& path, RgbImage&, std::string& error) {
    error = path + ": this build reads no PNG pictures (built without libpng)";
    return false;
}

bool WritePng(const std::string& path, const RgbImage&, std::string& error) {
    error = path + ": this build writes no PNG pictures (built without libpng)";
    return false;
}

#endif

RgbImage FromBgra(const uint8_t* bgra, int width, int height, size_t strideBytes) {
    RgbImage image(width, height);
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = bgra + static_cast<size_t>(y) * strideBytes;
        for (int x = 0; x < width; ++x) {
            uint8_t* target = image.At(x, y);
            target[0] = source[4 * x + 2];
            target[1] = source[4 * x + 1];
            target[2] = source[4 * x + 0];
        }
    }
    return image;
}

} // namespace imaging
