#include "driver/pipeline/color_matrices.h"

#include "driver/pipeline/float_math.h"

namespace zyn {
namespace {

// Luminance weights of the saturation and hue matrices.
constexpr float kRedWeight = 0.3086f;
constexpr float kGreenWeight = 0.6094f;
constexpr float kBlueWeight = 0.0820f;

// The correction's columns each sum to 1, so grey stays grey.
constexpr float kCorrection[3][3] = {
    {1.36f, -0.25f, -0.10f},
    {-0.22f, 1.40f, -0.32f},
    {-0.14f, -0.15f, 1.42f},
};

constexpr LONG kRangedMaximum = 20;
constexpr LONG kBrightnessMaximum = 510;
constexpr LONG kBrightnessNeutral = 255;

LONG AtMost(LONG value, LONG limit) {
    return value > limit ? limit : value;
}

// 0 gives 0.0, 10 gives 1.0, 20 gives 2.0; computed in single precision.
double RangedScale(LONG value) {
    const float scaled = (static_cast<float>(AtMost(value, kRangedMaximum)) - 10.0f) * 0.1f;
    return static_cast<double>(scaled + 1.0f);
}

// A rotation in the plane of axes a and b, turning a towards b.
Matrix4 PlaneRotation(int a, int b, double sine, double cosine) {
    Matrix4 r = IdentityMatrix();
    r.m[a][a] = cosine;
    r.m[a][b] = sine;
    r.m[b][a] = -sine;
    r.m[b][b] = cosine;
    return r;
}

Matrix4 RotationX(double sine, double cosine) {
    return PlaneRotation(1, 2, sine, cosine);
}

Matrix4 RotationY(double sine, double cosine) {
    return PlaneRotation(2, 0, sine, cosine);
}

Matrix4 RotationZ(double sine, double cosine) {
    return PlaneRotation(0, 1, sine, cosine);
}

Matrix4 ShearZ(double dx, double dy) {
    Matrix4 r = IdentityMatrix();
    r.m[0][2] = dx;
    r.m[1][2] = dy;
    return r;
}

} // namespace

Matrix4 IdentityMatrix() {
    Matrix4 r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r.m[i][j] = i == j ? 1.0 : 0.0;
        }
    }
    return r;
}

Matrix4 CorrectionMatrix(LONG colorCorrection) {
    Matrix4 r = IdentityMatrix();
    if (colorCorrection != 0) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                r.m[i][j] = kCorrection[i][j];
            }
        }
    }
    return r;
}

Matrix4 BrightnessMatrix(LONG brightness) {
    const double offset = static_cast<double>(AtMost(brightness, kBrightnessMaximum)) -
                          static_cast<double>(kBrightnessNeutral);
    Matrix4 r = IdentityMatrix();
    r.m[3][0] = r.m[3][1] = r.m[3][2] = offset;
    return r;
}

Matrix4 ContrastMatrix(LONG contrast) {
    const double s = RangedScale(contrast);
    Matrix4 r = IdentityMatrix();
    r.m[0][0] = r.m[1][1] = r.m[2][2] = s;
    r.m[3][0] = r.m[3][1] = r.m[3][2] = 128.0 - 128.0 * s;
    return r;
}

Matrix4 SaturationMatrix(LONG saturation) {
    const double s = RangedScale(saturation);
    const double c = 1.0 - s;
    const double weights[3] = {kRedWeight, kGreenWeight, kBlueWeight};
    Matrix4 r = IdentityMatrix();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            r.m[i][j] = c * weights[i] + (i == j ? s : 0.0);
        }
    }
    return r;
}

float HueAngle(LONG hue) {
    const float degreesTimesPi = static_cast<float>(hue) * 3.1415927f;
    return degreesTimesPi / 180.0f;
}

Matrix4 HueRotationMatrix(float sine, float cosine) {
    const double root2 = SquareRootF(2.0f);
    const double root3 = SquareRootF(3.0f);
    const double xSine = 1.0 / root2;
    const double xCosine = 1.0 / root2;
    const double ySine = -1.0 / root3;
    const double yCosine = root2 / root3;

    // Turn the grey axis onto z ...
    Matrix4 r = IdentityMatrix();
    r = Multiply(r, RotationX(xSine, xCosine));
    r = Multiply(r, RotationY(ySine, yCosine));

    // ... shear so that the luminance plane stays put while rotating about z ...
    const double wr = kRedWeight;
    const double wg = kGreenWeight;
    const double wb = kBlueWeight;
    const double lx = wr * r.m[0][0] + wg * r.m[1][0] + wb * r.m[2][0] + r.m[3][0];
    const double ly = wr * r.m[0][1] + wg * r.m[1][1] + wb * r.m[2][1] + r.m[3][1];
    const double lz = wr * r.m[0][2] + wg * r.m[1][2] + wb * r.m[2][2] + r.m[3][2];
    const double dx = lx / lz;
    const double dy = ly / lz;
    r = Multiply(r, ShearZ(dx, dy));
    r = Multiply(r, RotationZ(static_cast<double>(sine), static_cast<double>(cosine)));
    r = Multiply(r, ShearZ(-dx, -dy));

    // ... and turn the grey axis back.
    r = Multiply(r, RotationY(-ySine, yCosine));
    r = Multiply(r, RotationX(-xSine, xCosine));
    return r;
}

Matrix4 HueMatrix(LONG hue) {
    const float angle = HueAngle(hue);
    return HueRotationMatrix(SineF(angle), CosineF(angle));
}

Matrix4 Multiply(const Matrix4& left, const Matrix4& right) {
    Matrix4 r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) {
                sum += left.m[i][k] * right.m[k][j];
            }
            r.m[i][j] = sum;
        }
    }
    return r;
}

Matrix4 CombineColorMatrices(const Matrix4& base, const Matrix4& correction,
                             const Matrix4& brightness, const Matrix4& contrast,
                             const Matrix4& saturation, const Matrix4& hue) {
    Matrix4 combined = Multiply(correction, base);
    combined = Multiply(contrast, combined);
    combined = Multiply(brightness, combined);
    combined = Multiply(saturation, combined);
    return Multiply(hue, combined);
}

void ToFixedPoint(const Matrix4& combined, LONG fixed[kFixedMatrixEntries]) {
    constexpr double kLargest = 2147483647.0;
    constexpr double kSmallest = -2147483648.0;
    for (int k = 0; k < kFixedMatrixEntries; ++k) {
        const double t = combined.m[k / 4][k % 4] * kFixedMatrixOne;
        double rounded = t >= 0 ? t + 0.5 : t - 0.5;
        // Out of range only for settings far beyond their limits; the conversion would be
        // undefined there.
        if (!(rounded < kLargest)) {
            rounded = kLargest;
        } else if (!(rounded > kSmallest)) {
            rounded = kSmallest;
        }
        fixed[k] = static_cast<LONG>(rounded);
    }
}

} // namespace zyn
