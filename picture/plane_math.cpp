#include "picture/plane_math.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorbel::plane {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTwoOverPi = 2 / std::numbers::pi;
// Half pi in three parts (Cody and Waite); the first two end in zero bits, so that their
// products with a whole number of quarter turns below 2^20 are exact.
constexpr double kHalfPi1 = 1.57079632673412561417e+00;
constexpr double kHalfPi2 = 6.07710050650619224932e-11;
constexpr double kHalfPi3 = 2.02226624879595063154e-21;
// Beyond this many quarter turns neighbouring doubles lie more than a turn apart.
constexpr double kLargestTurns = 4503599627370496.0;  // 2^52

// Taylor coefficients: sine's (-1)^n / (2n + 1)! and cosine's (-1)^n / (2n)! from n = 1. On
// [-pi/4, pi/4] the first omitted terms are below 1e-19.
constexpr double kSine[] = {-1.0 / 6,          1.0 / 120,           -1.0 / 5040,
                            1.0 / 362880,      -1.0 / 39916800,     1.0 / 6227020800,
                            -1.0 / 1307674368000, 1.0 / 355687428096000};
constexpr double kCosine[] = {-1.0 / 2,          1.0 / 24,              -1.0 / 720,
                              1.0 / 40320,       -1.0 / 3628800,        1.0 / 479001600,
                              -1.0 / 87178291200, 1.0 / 20922789888000, -1.0 / 6402373705728000};

// Arctangent series (-1)^n / (2n + 1); for |u| <= tan(pi/16) the terms after these are below
// 1e-18.
constexpr double kArcTangent[] = {1.0,       -1.0 / 3,  1.0 / 5,  -1.0 / 7,  1.0 / 9,
                                  -1.0 / 11, 1.0 / 13,  -1.0 / 15, 1.0 / 17, -1.0 / 19,
                                  1.0 / 21,  -1.0 / 23, 1.0 / 25, -1.0 / 27};
constexpr double kTanEighthPi = 0.41421356237309504880;  // sqrt(2) - 1

template <size_t N>
double Horner(const double (&c)[N], double z) {
    double sum = c[N - 1];
    for (size_t i = N - 1; i-- > 0;) sum = c[i] + z * sum;
    return sum;
}

// Arctangent of t in [0, 1]: above tan(pi/8) through atan t = pi/4 + atan((t - 1) / (t + 1)),
// then one halving, atan u = 2 atan(u / (1 + sqrt(1 + u^2))), leaves at most tan(pi/16) for
// the series.
double ArcTangentOfFraction(double t) {
    double base = 0;
    if (t > kTanEighthPi) {
        base = kPi / 4;
        t = (t - 1) / (t + 1);
    }
    const double u = t / (1 + SquareRoot(1 + t * t));
    return base + 2 * u * Horner(kArcTangent, u * u);
}

}  // namespace

double SquareRoot(double x) {
#if defined(__SSE2__)
    return _mm_cvtsd_f64(_mm_sqrt_sd(_mm_setzero_pd(), _mm_set_sd(x)));
#else
    return std::sqrt(x);
#endif
}

void SinCos(double x, double& sine, double& cosine) {
    if (!std::isfinite(x)) {
        sine = cosine = kNaN;
        return;
    }
    const double turns = x * kTwoOverPi;
    if (!(std::fabs(turns) < kLargestTurns)) {
        sine = 0;
        cosine = 1;
        return;
    }
    const int64_t k = int64_t(turns + (turns < 0 ? -0.5 : 0.5));
    const double kd = double(k);
    const double r = ((x - kd * kHalfPi1) - kd * kHalfPi2) - kd * kHalfPi3;
    const double z = r * r;
    const double s = r + r * z * Horner(kSine, z);
    const double c = 1 + z * Horner(kCosine, z);
    switch (k & 3) {
    case 0: sine = s; cosine = c; break;
    case 1: sine = c; cosine = -s; break;
    case 2: sine = -s; cosine = -c; break;
    default: sine = -c; cosine = s; break;
    }
}

double Atan2(double y, double x) {
    if (std::isnan(x) || std::isnan(y)) return x + y;
    const double ay = std::fabs(y), ax = std::fabs(x);
    double angle;  // of (|x|, |y|)
    if (std::isinf(ay) && std::isinf(ax))
        angle = kPi / 4;
    else if (ay > ax)
        angle = kPi / 2 - ArcTangentOfFraction(ax / ay);
    else if (ax == 0)
        angle = 0;
    else
        angle = ArcTangentOfFraction(ay / ax);
    if (std::signbit(x)) angle = kPi - angle;
    return std::signbit(y) ? -angle : angle;
}

double ArcCos(double x) {
    if (!(x >= -1 && x <= 1)) return kNaN;
    return Atan2(SquareRoot((1 - x) * (1 + x)), x);
}

double Hypotenuse(double a, double b) {
    a = std::fabs(a);
    b = std::fabs(b);
    if (std::isinf(a) || std::isinf(b)) return std::numeric_limits<double>::infinity();
    if (std::isnan(a) || std::isnan(b)) return kNaN;
    const double big = a > b ? a : b, small = a > b ? b : a;
    if (big == 0) return 0;
    const double ratio = small / big;
    return big * SquareRoot(1 + ratio * ratio);
}

long RoundHalfAway(double x) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (std::isnan(x) || x <= -kTwoTo63) return LONG_MIN;
    if (x >= kTwoTo63) return LONG_MAX;
    const long whole = long(x);  // toward zero; the rest is exact below 2^52, zero above
    const double rest = x - double(whole);
    if (rest >= 0.5) return whole + 1;
    if (rest <= -0.5) return whole - 1;
    return whole;
}

}  // namespace quorbel::plane
