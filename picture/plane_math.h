// The few functions of plane geometry that drawing a metafile needs, in our own code: the C
// maths library is a shared library of its own, and loading it is paid by every run of every
// program that links the picture code, drawing or not (a twentieth of quorbel-cli unpacking a
// small archive). Results agree with the maths library's to a few units in the last place,
// far below a pixel.
#pragma once

namespace quorbel::plane {

double SquareRoot(double x);
// Sine and cosine of `x` radians; NaN for a NaN or infinite angle. Accurate for angles up to
// about a million radians (the reduction by quarter turns is exact there).
void SinCos(double x, double& sine, double& cosine);
// The angle of the point (x, y), in [-pi, pi], with the signs of zeros and infinities as
// atan2 has them.
double Atan2(double y, double x);
// The angle whose cosine is `x`, in [0, pi]; NaN outside [-1, 1].
double ArcCos(double x);
// The length of (a, b) without overflow or underflow on the way.
double Hypotenuse(double a, double b);
// Nearest whole number, halves away from zero (lround); the nearest end of the range for
// values beyond it, the lower end for NaN.
long RoundHalfAway(double x);

}  // namespace quorbel::plane
