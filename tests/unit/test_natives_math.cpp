// The angle reduction of the trigonometric natives: each mode brings the angle where its
// function keeps its value.
#include <gtest/gtest.h>

#include <cmath>

#include "interpreter/natives.h"

namespace {

constexpr double kPi = 3.141592653589793;

struct AngleCase {
  double degrees;
  int mode;
  double expected_degrees;  // the reduced angle
};

const AngleCase kAngleCases[] = {
    {540, 1, 180}, {100, 2, 80}, {100, 0, -80},  {-100, 2, -80}, {-100, 0, 80},   {100, 1, 100},
    {270, 2, -90}, {190, 0, 10}, {-190, 1, 170}, {725, 2, 5},    {-540, 1, -180}, {45, 0, 45},
};

TEST(NativesMath, DegreesToRadiansReducesByMode) {
  for (const AngleCase& c : kAngleCases)
    EXPECT_DOUBLE_EQ(natives::degrees_to_radians(c.degrees, c.mode),
                     c.expected_degrees * kPi / 180)
        << c.degrees << " mode " << c.mode;
}

TEST(NativesMath, ReducedAnglesKeepTheFunctionValues) {
  for (double d = -1000; d <= 1000; d += 7.5) {
    double r = d * kPi / 180;
    EXPECT_NEAR(std::sin(natives::degrees_to_radians(d, 2)), std::sin(r), 1e-12) << d;
    EXPECT_NEAR(std::cos(natives::degrees_to_radians(d, 1)), std::cos(r), 1e-12) << d;
    if (std::fabs(std::cos(r)) > 1e-3) {
      EXPECT_NEAR(std::tan(natives::degrees_to_radians(d, 0)), std::tan(r), 1e-9) << d;
    }
    EXPECT_LE(std::fabs(natives::degrees_to_radians(d, 2)), kPi / 2 + 1e-15) << d;
  }
}

}  // namespace
