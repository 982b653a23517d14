#include "tests/pipeline/reference_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace reference {
namespace {

enum Colour { kRed, kGreen, kBlue };

// The colour at (x, y) for each phase: GRBG, BGGR, RGGB, GBRG.
Colour ColourAt(int phase, int x, int y) {
    static const Colour kCells[4][4] = {
        {kGreen, kRed, kBlue, kGreen},
        {kBlue, kGreen, kGreen, kRed},
        {kRed, kGreen, kGreen, kBlue},
        {kGreen, kBlue, kRed, kGreen},
    };
    return kCells[phase][(y & 1) * 2 + (x & 1)];
}

// The frame with two samples of border on every side.
class Padded {
public:
    Padded(int width, int height)
        : width_(width), height_(height), samples_((width + 4) * (height + 4), 0) {}

    int& At(int x, int y) { return samples_[(y + 2) * (width_ + 4) + (x + 2)]; }

    void Fill(const uint8_t* raw, size_t offset, size_t pitch) {
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                At(x, y) = raw[offset + y * pitch + x];
            }
        }
        if (width_ < 8 || height_ < 8) {
            return;
        }
        for (int x = 0; x < width_; ++x) {
            At(x, -2) = At(x, 2);
            At(x, -1) = At(x, 1);
            At(x, height_) = At(x, height_ - 4);
            At(x, height_ + 1) = At(x, height_ - 3);
        }
        for (int y = -2; y < height_ + 2; ++y) {
            At(-1, y) = At(1, y);
            At(-2, y) = At(2, y);
            At(width_, y) = At(width_ - 2, y);
            At(width_ + 1, y) = At(width_ - 3, y);
        }
    }

    void RemoveDots(long threshold) {
        if (width_ <= 4 || height_ <= 4) {
            return;
        }
        for (int y = 2; y <= height_ - 3; ++y) {
            for (int x = 2; x <= width_ - 3; ++x) {
                const int mean = (At(x - 2, y) + At(x + 2, y) + At(x, y - 2) + At(x, y + 2)) / 4;
                if (std::abs(At(x, y) - mean) >= threshold) {
                    At(x, y) = mean;
                }
            }
        }
    }

private:
    int width_, height_;
    std::vector<int> samples_;
};

int Kernel(int sum, int round, int shift) {
    if (sum < 0) {
        sum = 0;
    }
    return std::min(255, (sum + round) >> shift);
}

// Red, green and blue at one pixel.
std::array<int, 3> Demosaic(Padded& f, int phase, int x, int y) {
    auto p = [&](int dx, int dy) { return f.At(x + dx, y + dy); };
    const int c = p(0, 0);
    const int gx = Kernel(4 * c + 2 * (p(0, -1) + p(0, 1) + p(-1, 0) + p(1, 0)) -
                              (p(0, -2) + p(0, 2) + p(-2, 0) + p(2, 0)),
                          4, 3);
    const int xd = Kernel(12 * c + 4 * (p(-1, -1) + p(1, -1) + p(-1, 1) + p(1, 1)) -
                              3 * (p(0, -2) + p(0, 2) + p(-2, 0) + p(2, 0)),
                          8, 4);
    const int xh =
        Kernel(10 * c + 8 * (p(-1, 0) + p(1, 0)) - 2 * (p(-1, -1) + p(1, -1) + p(-1, 1) + p(1, 1)) -
                   2 * (p(-2, 0) + p(2, 0)) + (p(0, -2) + p(0, 2)),
               8, 4);
    const int xv =
        Kernel(10 * c + 8 * (p(0, -1) + p(0, 1)) - 2 * (p(-1, -1) + p(1, -1) + p(-1, 1) + p(1, 1)) -
                   2 * (p(0, -2) + p(0, 2)) + (p(-2, 0) + p(2, 0)),
               8, 4);
    switch (ColourAt(phase, x, y)) {
    case kRed:
        return {c, gx, xd};
    case kBlue:
        return {xd, gx, c};
    default:
        // A green sample: is red left and right of it, or above and below?
        if (ColourAt(phase, x + 1, y) == kRed) {
            return {xh, c, xv};
        }
        return {xv, c, xh};
    }
}

int Gained(int value, long gain) {
    const long g = std::clamp<long>(gain, 0, 65535);
    return static_cast<int>(std::min<long>(255, value * g / 128));
}

} // namespace

Result Convert(const uint8_t* raw, size_t offset, size_t pitch, int width, int height,
               const Settings& s) {
    Padded frame(width, height);
    frame.Fill(raw, offset, pitch);

    Result result;
    result.redGain = s.redGain;
    result.greenGain = s.greenGain;
    result.blueGain = s.blueGain;
    if (s.whiteBalance) {
        uint32_t sum[3] = {0, 0, 0};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const auto rgb = Demosaic(frame, s.phase, x, y);
                for (int k = 0; k < 3; ++k) {
                    sum[k] += rgb[k];
                }
            }
        }
        if (sum[0] != 0 && sum[1] != 0 && sum[2] != 0) {
            const double total = double(sum[0]) + double(sum[1]) + double(sum[2]);
            const double greenPart = (total / sum[1]) / 3;
            const double red = ((total / sum[0]) / 3 * 128) / greenPart;
            const double blue = ((total / sum[2]) / 3 * 128) / greenPart;
            result.redGain = static_cast<long>(std::min(red, 2147483647.0));
            result.blueGain = static_cast<long>(std::min(blue, 2147483647.0));
            result.greenGain = 128;
        }
    }
    if (s.dotThreshold > 0) {
        frame.RemoveDots(s.dotThreshold);
    }

    result.bgra.resize(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto rgb = Demosaic(frame, s.phase, x, y);
            const int v[3] = {Gained(rgb[0], result.redGain), Gained(rgb[1], result.greenGain),
                              Gained(rgb[2], result.blueGain)};
            int out[3];
            if (s.color) {
                for (int j = 0; j < 3; ++j) {
                    long positive = 0, negative = 0;
                    auto add = [&](long entry, long value) {
                        const long product = value * std::min(std::labs(entry), 65535L);
                        (entry > 0 ? positive : negative) += product;
                    };
                    add(s.matrix[12 + j], 1);
                    for (int i = 0; i < 3; ++i) {
                        add(s.matrix[4 * i + j], v[i]);
                    }
                    out[j] = static_cast<int>(
                        std::clamp<long>((positive >> 6) - (negative >> 6), 0, 255));
                }
            } else {
                const int grey = (77 * v[0]) / 256 + (150 * v[1]) / 256 + (29 * v[2]) / 256;
                out[0] = out[1] = out[2] = grey;
            }
            uint8_t* pixel = &result.bgra[(static_cast<size_t>(y) * width + x) * 4];
            pixel[0] = static_cast<uint8_t>(out[2]);
            pixel[1] = static_cast<uint8_t>(out[1]);
            pixel[2] = static_cast<uint8_t>(out[0]);
            pixel[3] = 255;
        }
    }
    return result;
}

namespace {

using M = std::array<std::array<double, 4>, 4>;

M Identity() {
    M m{};
    for (int i = 0; i < 4; ++i) {
        m[i][i] = 1;
    }
    return m;
}

M Product(const M& a, const M& b) {
    M r{};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            for (int k = 0; k < 4; ++k) {
                r[i][j] += a[i][k] * b[k][j];
            }
        }
    }
    return r;
}

double Scale(long value) {
    const float v = static_cast<float>(std::min(value, 20L));
    return static_cast<double>((v - 10.0f) * 0.1f + 1.0f);
}

} // namespace

std::array<long, 16> FixedMatrix(long correction, long brightness, long contrast, long saturation,
                                 long hue) {
    M corr = Identity();
    if (correction) {
        const float k[3][3] = {
            {1.36f, -0.25f, -0.10f}, {-0.22f, 1.40f, -0.32f}, {-0.14f, -0.15f, 1.42f}};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                corr[i][j] = k[i][j];
            }
        }
    }
    M bright = Identity();
    const double offset = double(std::min(brightness, 510L)) - 255;
    bright[3][0] = bright[3][1] = bright[3][2] = offset;

    M cont = Identity();
    const double cs = Scale(contrast);
    for (int i = 0; i < 3; ++i) {
        cont[i][i] = cs;
        cont[3][i] = 128 - 128 * cs;
    }

    M sat = Identity();
    const double ss = Scale(saturation);
    const double w[3] = {0.3086f, 0.6094f, 0.0820f};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            sat[i][j] = (1 - ss) * w[i] + (i == j ? ss : 0);
        }
    }

    // A rotation in the plane of axes a and b: about x is (1, 2), about y (2, 0), about z (0, 1).
    auto rotate = [](int a, int b, double s, double c) {
        M r = Identity();
        r[a][a] = c;
        r[a][b] = s;
        r[b][a] = -s;
        r[b][b] = c;
        return r;
    };
    auto rotX = [&](double s, double c) { return rotate(1, 2, s, c); };
    auto rotY = [&](double s, double c) { return rotate(2, 0, s, c); };
    auto rotZ = [&](double s, double c) { return rotate(0, 1, s, c); };
    auto shear = [](double dx, double dy) {
        M r = Identity();
        r[0][2] = dx;
        r[1][2] = dy;
        return r;
    };
    const double r2 = sqrtf(2.0f), r3 = sqrtf(3.0f);
    M h = Product(Identity(), rotX(1 / r2, 1 / r2));
    h = Product(h, rotY(-1 / r3, r2 / r3));
    double l[3];
    for (int k = 0; k < 3; ++k) {
        l[k] = w[0] * h[0][k] + w[1] * h[1][k] + w[2] * h[2][k] + h[3][k];
    }
    h = Product(h, shear(l[0] / l[2], l[1] / l[2]));
    const float angle = static_cast<float>(hue) * 3.1415927f / 180.0f;
    h = Product(h, rotZ(sinf(angle), cosf(angle)));
    h = Product(h, shear(-l[0] / l[2], -l[1] / l[2]));
    h = Product(h, rotY(1 / r3, r2 / r3));
    h = Product(h, rotX(-1 / r2, 1 / r2));

    const M combined = Product(h, Product(sat, Product(bright, Product(cont, corr))));
    std::array<long, 16> fixed{};
    for (int k = 0; k < 16; ++k) {
        const double t = combined[k / 4][k % 4] * 64;
        fixed[k] = static_cast<long>(t >= 0 ? t + 0.5 : t - 0.5);
    }
    return fixed;
}

} // namespace reference
