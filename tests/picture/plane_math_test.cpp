#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#include "picture/plane_math.h"

namespace quorbel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = std::numbers::pi;

// A long run of values spread over many magnitudes, both signs, from a fixed seed.
struct Values {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    double Next(double largest) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const double unit = double(state >> 11) / 9007199254740992.0;  // [0, 1)
        const double magnitude = std::pow(largest, unit) - 1;          // from 0 to largest - 1
        return (state >> 10 & 1) ? magnitude : -magnitude;
    }
};

TEST(PlaneMathTest, SinCosMatchTheMathsLibrary) {
    Values v;
    for (int i = 0; i < 200000; ++i) {
        const double x = v.Next(i % 2 ? 10.0 : 1e6);
        double s, c;
        plane::SinCos(x, s, c);
        // Absolute error: the reduced angle carries x's own rounding, a few ulps of 1e6.
        const double tolerance = 4e-16 * (1 + std::fabs(x) / 1e3);
        ASSERT_NEAR(s, std::sin(x), tolerance) << x;
        ASSERT_NEAR(c, std::cos(x), tolerance) << x;
    }
    // Exact quarter turns, halves and the edges of the reduction.
    for (double x : {0.0, -0.0, kPi / 4, kPi / 2, kPi, 3 * kPi / 2, -kPi / 4, 1e-300, 0.7853981633974483}) {
        double s, c;
        plane::SinCos(x, s, c);
        EXPECT_NEAR(s, std::sin(x), 2e-16) << x;
        EXPECT_NEAR(c, std::cos(x), 2e-16) << x;
    }
    double s, c;
    for (double x : {kInf, -kInf, kNaN}) {
        plane::SinCos(x, s, c);
        EXPECT_TRUE(std::isnan(s) && std::isnan(c)) << x;
    }
    // Angles beyond any meaning still give a point on the circle.
    plane::SinCos(1e300, s, c);
    EXPECT_EQ(s * s + c * c, 1.0);
}

TEST(PlaneMathTest, Atan2MatchesTheMathsLibrary) {
    Values v;
    for (int i = 0; i < 200000; ++i) {
        const double y = v.Next(i % 3 ? 100.0 : 1e12), x = v.Next(i % 5 ? 100.0 : 1e-3);
        ASSERT_NEAR(plane::Atan2(y, x), std::atan2(y, x), 8e-16) << y << ", " << x;
    }
    // Zeros, infinities and their signs as atan2 has them.
    const double specials[] = {0.0, -0.0, 1.0, -1.0, kInf, -kInf, 1e-310, -1e308};
    for (double y : specials)
        for (double x : specials) {
            const double ours = plane::Atan2(y, x), theirs = std::atan2(y, x);
            EXPECT_NEAR(ours, theirs, 4e-16) << y << ", " << x;
            EXPECT_EQ(std::signbit(ours), std::signbit(theirs)) << y << ", " << x;
        }
    EXPECT_TRUE(std::isnan(plane::Atan2(kNaN, 1)));
    EXPECT_TRUE(std::isnan(plane::Atan2(1, kNaN)));
}

TEST(PlaneMathTest, ArcCosHypotenuseAndSquareRoot) {
    for (int i = -2000; i <= 2000; ++i) {
        const double x = i / 2000.0;
        ASSERT_NEAR(plane::ArcCos(x), std::acos(x), 8e-16) << x;
    }
    EXPECT_EQ(plane::ArcCos(1), 0.0);
    EXPECT_NEAR(plane::ArcCos(-1), kPi, 1e-16);
    EXPECT_TRUE(std::isnan(plane::ArcCos(1.0000001)));
    EXPECT_TRUE(std::isnan(plane::ArcCos(kNaN)));

    Values v;
    for (int i = 0; i < 100000; ++i) {
        const double a = v.Next(1e150), b = v.Next(i % 2 ? 1e150 : 10.0);
        const double theirs = std::hypot(a, b);
        ASSERT_NEAR(plane::Hypotenuse(a, b), theirs, theirs * 4.5e-16) << a << ", " << b;
    }
    // No overflow or underflow on the way; infinity wins over NaN.
    EXPECT_DOUBLE_EQ(plane::Hypotenuse(3e300, 4e300), 5e300);
    EXPECT_DOUBLE_EQ(plane::Hypotenuse(3e-300, 4e-300), 5e-300);
    EXPECT_EQ(plane::Hypotenuse(0, -0.0), 0.0);
    EXPECT_EQ(plane::Hypotenuse(kNaN, -kInf), kInf);
    EXPECT_TRUE(std::isnan(plane::Hypotenuse(kNaN, 1)));

    for (double x : {0.0, 1e-300, 2.0, 3.0, 1e300, 12345.678})
        EXPECT_EQ(plane::SquareRoot(x), std::sqrt(x)) << x;
    EXPECT_TRUE(std::isnan(plane::SquareRoot(-1)));
}

TEST(PlaneMathTest, RoundHalfAwayIsLround) {
    const double cases[] = {0.0,  -0.0, 0.5,  -0.5, 1.5,  -1.5, 2.5, -2.5, 0.49999999999999994,
                            -0.49999999999999994, 4503599627370495.5, 4503599627370497.0,
                            1e18, -1e18, 123.456, -123.456, 7.999999999999999};
    for (double x : cases) EXPECT_EQ(plane::RoundHalfAway(x), std::lround(x)) << x;
    Values v;
    for (int i = 0; i < 100000; ++i) {
        const double x = v.Next(1e15) / 8;  // many values with halves and quarters
        ASSERT_EQ(plane::RoundHalfAway(x), std::lround(x)) << x;
    }
    // Beyond the range: its nearest end; NaN the lower one.
    EXPECT_EQ(plane::RoundHalfAway(1e300), LONG_MAX);
    EXPECT_EQ(plane::RoundHalfAway(-kInf), LONG_MIN);
    EXPECT_EQ(plane::RoundHalfAway(kNaN), LONG_MIN);
}

}  // namespace
}  // namespace quorbel
