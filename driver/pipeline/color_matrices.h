// The 4 x 4 colour matrices: pixels are row vectors (red, green, blue, 1) multiplied on the
// right, so entry [i][j] is how much input i (red, green, blue, the constant 1) adds to output j.
// Everything here is floating point: on 32-bit x86 call it only with the processor's
// floating-point state saved.
#pragma once

#include "driver/wdk.h"

namespace zyn {

struct Matrix4 {
    double m[4][4];
};

// Fixed-point colour matrix: entry 4i + j is matrix entry [i][j] times 64, rounded.
constexpr int kFixedMatrixEntries = 16;
constexpr int kFixedMatrixOne = 64;

Matrix4 IdentityMatrix();
// The sensor's colour correction when on, the identity when off.
Matrix4 CorrectionMatrix(LONG colorCorrection);
// Offset of Brightness - 255 pixel units (Brightness above 510 acts as 510).
Matrix4 BrightnessMatrix(LONG brightness);
// Scaling about grey 128 by (Contrast - 10) / 10 + 1 (Contrast above 20 acts as 20).
Matrix4 ContrastMatrix(LONG contrast);
// Saturation about the luminance axis (Saturation above 20 acts as 20).
Matrix4 SaturationMatrix(LONG saturation);
// Rotation of the hue by Hue degrees about the grey axis, keeping luminance.
Matrix4 HueMatrix(LONG hue);

// The hue angle in radians, single precision.
float HueAngle(LONG hue);
// The hue rotation for an angle given by its single-precision sine and cosine.
Matrix4 HueRotationMatrix(float sine, float cosine);

// left x right.
Matrix4 Multiply(const Matrix4& left, const Matrix4& right);

// The combined matrix hue x saturation x brightness x contrast x correction x base: a pixel is
// hue-rotated first and colour-corrected last.
Matrix4 CombineColorMatrices(const Matrix4& base, const Matrix4& correction,
                             const Matrix4& brightness, const Matrix4& contrast,
                             const Matrix4& saturation, const Matrix4& hue);

// Entry k := combined entry k x 64 rounded half away from zero (limited to the LONG range).
void ToFixedPoint(const Matrix4& combined, LONG fixed[kFixedMatrixEntries]);

} // namespace zyn
