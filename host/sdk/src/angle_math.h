// angle_math.h: atan2 for the Euler conversion, which a live device runs
// three times per segment on every frame. The C library's atan2 is correctly
// rounded and pays for it in branches, two divisions and a wrapper for errno;
// this one is within a few units in the last place, far below anything an
// angle in degrees shows, with one division.
//
// Private to libfbsdk. Pure functions; any thread.
#pragma once

#include <cmath>

namespace fbhost_internal {

// atan(n / d) for |n / d| <= tan(pi/8) (and a little beyond), d > 0, from a
// rational minimax fit in the square of the ratio, accurate to about one unit
// in the last place over that interval:
//   atan(u) = u + u * z * P(z) / Q(z),  z = u * u.
// Written homogeneously in n and d (P and Q multiplied through by powers of
// d^2), the whole needs a single division, where the ratio first and the fit
// afterwards would need two; divisions are most of its time. The caller
// keeps n and d within 1e-25 and 1e25 in magnitude (n may also be smaller
// or zero), where no power here overflows or underflows.
inline double AtanOfRatio(double n, double d) {
  const double nn = n * n;
  const double dd = d * d;
  const double p = (((-8.750608600031904122785e-01 * nn - 1.615753718733365076637e+01 * dd) * nn -
                     7.500855792314704667340e+01 * dd * dd) *
                        nn -
                    1.228866684490136173410e+02 * dd * dd * dd) *
                       nn -
                   6.485021904942025371773e+01 * dd * dd * dd * dd;
  const double q =
      ((((nn + 2.485846490142306297962e+01 * dd) * nn + 1.650270098316988542046e+02 * dd * dd) *
            nn +
        4.328810604912902668951e+02 * dd * dd * dd) *
           nn +
       4.853903996359136964868e+02 * dd * dd * dd * dd) *
          nn +
      1.945506571482613964425e+02 * dd * dd * dd * dd * dd;
  return n * (q + nn * p) / (d * q);
}

// atan2(y, x) in [-pi, pi], with the C library's answers on the axes. Two
// zeros, infinities, NaN and arguments beyond the range above go to the C
// library, whose rules for them this does not repeat.
inline double Atan2(double y, double x) {
  // pi/4, pi/2 and pi split into the nearest double and the rest.
  constexpr double kQuarterPi = 7.85398163397448278999e-01;
  constexpr double kHalfPi = 1.57079632679489655800e+00;
  constexpr double kHalfPiRest = 6.123233995736765886130e-17;
  constexpr double kPi = 3.14159265358979311600e+00;
  constexpr double kPiRest = 1.2246467991473531772e-16;
  constexpr double kTanThreeEighthsPi = 2.41421356237309504880;
  constexpr double kSmallest = 1e-25;
  constexpr double kLargest = 1e25;

  const double ax = std::fabs(x);
  const double ay = std::fabs(y);
  // On an axis, which rotations about one axis meet all the time.
  if (ay == 0.0 && ax > 0.0 && ax <= kLargest) {
    return std::signbit(x) ? std::copysign(kPi, y) : y;
  }
  if (ax == 0.0 && ay > 0.0 && ay <= kLargest) return std::copysign(kHalfPi, y);
  if (!(ax >= kSmallest && ax <= kLargest && ay >= kSmallest && ay <= kLargest)) {
    return std::atan2(y, x);
  }

  // The angle of (ax, ay) in [0, pi/2] as base + atan(u) with |u| small:
  // below about 33 degrees directly, up to 67.5 degrees from 45, above
  // that from 90.
  double angle;
  if (ay <= 0.66 * ax) {
    angle = AtanOfRatio(ay, ax);
  } else if (ay <= kTanThreeEighthsPi * ax) {
    angle = kQuarterPi + (AtanOfRatio(ay - ax, ay + ax) + 0.5 * kHalfPiRest);
  } else {
    angle = kHalfPi + (AtanOfRatio(-ax, ay) + kHalfPiRest);
  }
  if (std::signbit(x)) angle = (kPi - angle) + kPiRest;
  return std::copysign(angle, y);
}

}  // namespace fbhost_internal
