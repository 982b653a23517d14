// Single-precision square root, sine and cosine for the colour matrices. The Windows images
// have no C runtime: the square root is the processor's instruction and sine and cosine are
// computed here. The simulated build uses the C library's functions, and its tests hold the two
// sine and cosine implementations to the same results.
#pragma once

namespace zyn {

float SquareRootF(float value);
float SineF(float angle);
float CosineF(float angle);

// Our own sine and cosine, built in every configuration: accurate to the last bit of a float
// for the angles of the hue setting (the double-precision result rounded once).
float KernelSineF(float angle);
float KernelCosineF(float angle);

} // namespace zyn
