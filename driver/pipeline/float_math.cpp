#include "driver/pipeline/float_math.h"

#if defined(ZYN_SIMULATED)
#include <cmath>
#endif

namespace zyn {
namespace {

constexpr double kTwoOverPi = 6.36619772367581382433e-01;
// pi/2 in two parts: the first has 33 significant bits, so that n times it is exact for every
// quadrant count n a hue angle can give.
constexpr double kHalfPiHigh = 1.57079632673412561417e+00;
constexpr double kHalfPiLow = 6.07710050650619224932e-11;
// Beyond this the reduction would lose every bit of the angle; no setting comes near it.
constexpr double kLargestAngle = 1.0e15;

// Taylor coefficients of sin(r) / r and cos(r) in r squared, from the r^2 term on; on
// [-pi/4, pi/4] the first omitted terms are below 1e-19.
constexpr double kSineTerms[] = {-1.0 / 6,
                                 1.0 / 120,
                                 -1.0 / 5040,
                                 1.0 / 362880,
                                 -1.0 / 39916800,
                                 1.0 / 6227020800.0,
                                 -1.0 / 1307674368000.0,
                                 1.0 / 355687428096000.0};
constexpr double kCosineTerms[] = {
    -1.0 / 2,       1.0 / 24,          -1.0 / 720,           1.0 / 40320,
    -1.0 / 3628800, 1.0 / 479001600.0, -1.0 / 87178291200.0, 1.0 / 20922789888000.0};
constexpr int kTerms = sizeof kSineTerms / sizeof kSineTerms[0];

// 1 + t[0] x + t[1] x^2 + ..., by Horner's rule.
double Series(const double* terms, double x) {
    double sum = terms[kTerms - 1];
    for (int k = kTerms - 2; k >= 0; --k) {
        sum = terms[k] + x * sum;
    }
    return 1.0 + x * sum;
}

double SinePolynomial(double r) {
    return r * Series(kSineTerms, r * r);
}
double CosinePolynomial(double r) {
    return Series(kCosineTerms, r * r);
}

// Reduces the angle to r in [-pi/4, pi/4] and the quadrant (0 to 3) it lies in.
bool Reduce(float angle, double& r, unsigned& quadrant) {
    const double x = angle;
    if (!(x > -kLargestAngle && x < kLargestAngle)) {
        return false; // NaN, infinite or meaningless
    }
    const double q = x * kTwoOverPi;
    const long long n = static_cast<long long>(q < 0 ? q - 0.5 : q + 0.5);
    r = (x - static_cast<double>(n) * kHalfPiHigh) - static_cast<double>(n) * kHalfPiLow;
    quadrant = static_cast<unsigned>(n) & 3u;
    return true;
}

// cos(x) = sin(x + pi/2): the cosine is the sine one quadrant on.
float SineInQuadrant(double r, unsigned quadrant) {
    switch (quadrant & 3u) {
    case 0:
        return static_cast<float>(SinePolynomial(r));
    case 1:
        return static_cast<float>(CosinePolynomial(r));
    case 2:
        return static_cast<float>(-SinePolynomial(r));
    default:
        return static_cast<float>(-CosinePolynomial(r));
    }
}

} // namespace

float KernelSineF(float angle) {
    double r;
    unsigned quadrant;
    if (!Reduce(angle, r, quadrant)) {
        return 0.0f;
    }
    return SineInQuadrant(r, quadrant);
}

float KernelCosineF(float angle) {
    double r;
    unsigned quadrant;
    if (!Reduce(angle, r, quadrant)) {
        return 1.0f;
    }
    return SineInQuadrant(r, quadrant + 1u);
}

#if defined(ZYN_SIMULATED)

float SquareRootF(float value) {
    return std::sqrt(value);
}
float SineF(float angle) {
    return std::sin(angle);
}
float CosineF(float angle) {
    return std::cos(angle);
}

#else

// With -fno-math-errno this is the processor's square root instruction, no library call.
float SquareRootF(float value) {
    return __builtin_sqrtf(value);
}
float SineF(float angle) {
    return KernelSineF(angle);
}
float CosineF(float angle) {
    return KernelCosineF(angle);
}

#endif

} // namespace zyn
