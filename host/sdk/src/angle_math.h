// angle_math.h: atan2 for the Euler conversion, which a live device runs
// three times per segment on every frame. The C library's atan2 is correctly
// rounded and pays for it in branches, two divisions and a wrapper for errno;
// this one is within a few units in the last place, far below anything an
// angle in degrees shows, with one division.
//
// Private to libfbsdk. Pure functions; any thread.
#pragma once

#include <cmath>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define FBHOST_ATAN2_PAIR 1
#endif

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
// Written once for a double and for two doubles side by side (Pair below):
// both run the same operations in the same order, so each lane of a pair
// answers bit for bit what a double does.
template <typename Real>
inline Real AtanOfRatioOf(Real n, Real d) {
  // The powers first, then each polynomial as two halves joined at the end
  // (P = A t^2 + B u^3 and Q = C t^2 + E u^3, with t = n^2 and u = d^2):
  // short chains of dependent steps side by side, where one long chain of
  // nested multiply-adds was most of a conversion's latency.
  const Real t = n * n;
  const Real u = d * d;
  const Real tt = t * t, tu = t * u, uu = u * u;
  const Real uuu = uu * u;
  const Real a = -8.750608600031904122785e-01 * tt - 1.615753718733365076637e+01 * tu -
                 7.500855792314704667340e+01 * uu;
  const Real b = -1.228866684490136173410e+02 * t - 6.485021904942025371773e+01 * u;
  const Real p = a * tt + b * uuu;
  const Real c =
      tt * t + 2.485846490142306297962e+01 * tt * u + 1.650270098316988542046e+02 * t * uu;
  const Real e = 4.328810604912902668951e+02 * tt + 4.853903996359136964868e+02 * tu +
                 1.945506571482613964425e+02 * uu;
  const Real q = c * tt + e * uuu;
  return n * (q + t * p) / (d * q);
}

inline double AtanOfRatio(double n, double d) { return AtanOfRatioOf(n, d); }

namespace atan2_constants {
// pi/4, pi/2 and pi split into the nearest double and the rest.
constexpr double kQuarterPi = 7.85398163397448278999e-01;
constexpr double kHalfPi = 1.57079632679489655800e+00;
constexpr double kHalfPiRest = 6.123233995736765886130e-17;
constexpr double kPi = 3.14159265358979311600e+00;
constexpr double kPiRest = 1.2246467991473531772e-16;
constexpr double kTanThreeEighthsPi = 2.41421356237309504880;
// The range within which AtanOfRatio's powers neither overflow nor underflow.
constexpr double kSmallest = 1e-25;
constexpr double kLargest = 1e25;
}  // namespace atan2_constants

// atan2(y, x) in [-pi, pi], with the C library's answers on the axes. Two
// zeros, infinities, NaN and arguments beyond the range above go to the C
// library, whose rules for them this does not repeat.
inline double Atan2(double y, double x) {
  using namespace atan2_constants;  // NOLINT(google-build-using-namespace)
  const double ax = std::fabs(x);
  const double ay = std::fabs(y);
  if (!(ax >= kSmallest && ax <= kLargest && ay >= kSmallest && ay <= kLargest)) {
    // On an axis, which rotations about one axis meet all the time.
    if (ay == 0.0 && ax > 0.0 && ax <= kLargest) {
      return std::signbit(x) ? std::copysign(kPi, y) : y;
    }
    if (ax == 0.0 && ay > 0.0 && ay <= kLargest) return std::copysign(kHalfPi, y);
    return std::atan2(y, x);
  }

  // The angle of (ax, ay) in [0, pi/2] as base + atan(n / d) with |n / d|
  // small: below about 33 degrees directly, up to 67.5 degrees from 45,
  // above that from 90. One fit for all three, so that its code is not
  // repeated three times over.
  double n = ay, d = ax, base = 0.0, rest = 0.0;
  if (ay > 0.66 * ax) {
    if (ay <= kTanThreeEighthsPi * ax) {
      n = ay - ax;
      d = ay + ax;
      base = kQuarterPi;
      rest = 0.5 * kHalfPiRest;
    } else {
      n = -ax;
      d = ay;
      base = kHalfPi;
      rest = kHalfPiRest;
    }
  }
  double angle = base + (AtanOfRatio(n, d) + rest);
  if (std::signbit(x)) angle = (kPi - angle) + kPiRest;
  return std::copysign(angle, y);
}

#if defined(FBHOST_ATAN2_PAIR)
// Two doubles in one SSE2 register, with the arithmetic AtanOfRatioOf uses.
struct Pair {
  __m128d v;
};
inline Pair operator+(Pair a, Pair b) { return {_mm_add_pd(a.v, b.v)}; }
inline Pair operator-(Pair a, Pair b) { return {_mm_sub_pd(a.v, b.v)}; }
inline Pair operator*(Pair a, Pair b) { return {_mm_mul_pd(a.v, b.v)}; }
inline Pair operator/(Pair a, Pair b) { return {_mm_div_pd(a.v, b.v)}; }
inline Pair operator*(double a, Pair b) { return {_mm_mul_pd(_mm_set1_pd(a), b.v)}; }
inline Pair operator+(Pair a, double b) { return {_mm_add_pd(a.v, _mm_set1_pd(b))}; }
#endif

// atan2(y0, x0) and atan2(y1, x1), each exactly as Atan2 answers it. A
// conversion's angles after the first are independent of each other, and
// two lanes do the work of two scalar ones in about the time of one.
inline void Atan2Pair(double y0, double x0, double y1, double x1, double& a0, double& a1) {
#if defined(FBHOST_ATAN2_PAIR)
  using namespace atan2_constants;  // NOLINT(google-build-using-namespace)
  const __m128d sign = _mm_set1_pd(-0.0);
  const __m128d y = _mm_set_pd(y1, y0);
  const __m128d x = _mm_set_pd(x1, x0);
  const __m128d ax = _mm_andnot_pd(sign, x);
  const __m128d ay = _mm_andnot_pd(sign, y);
  const __m128d smallest = _mm_set1_pd(kSmallest);
  const __m128d largest = _mm_set1_pd(kLargest);
  const __m128d inRange =
      _mm_and_pd(_mm_and_pd(_mm_cmpge_pd(ax, smallest), _mm_cmple_pd(ax, largest)),
                 _mm_and_pd(_mm_cmpge_pd(ay, smallest), _mm_cmple_pd(ay, largest)));
  if (_mm_movemask_pd(inRange) != 3) {
    // An axis, a zero or a value out of the fit's range: rare, and Atan2
    // knows each of them.
    a0 = Atan2(y0, x0);
    a1 = Atan2(y1, x1);
    return;
  }
  auto choose = [](__m128d mask, __m128d yes, __m128d no) {
    return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no));
  };
  // Atan2's three ranges: its first test selects the middle or the high one,
  // its second the high one.
  const __m128d middle = _mm_cmpgt_pd(ay, _mm_mul_pd(_mm_set1_pd(0.66), ax));
  const __m128d high = _mm_cmpgt_pd(ay, _mm_mul_pd(_mm_set1_pd(kTanThreeEighthsPi), ax));
  const __m128d n = choose(high, _mm_xor_pd(ax, sign), choose(middle, _mm_sub_pd(ay, ax), ay));
  const __m128d d = choose(high, ay, choose(middle, _mm_add_pd(ay, ax), ax));
  const __m128d base =
      choose(high, _mm_set1_pd(kHalfPi), _mm_and_pd(middle, _mm_set1_pd(kQuarterPi)));
  const __m128d rest =
      choose(high, _mm_set1_pd(kHalfPiRest), _mm_and_pd(middle, _mm_set1_pd(0.5 * kHalfPiRest)));
  const Pair fit = AtanOfRatioOf(Pair{n}, Pair{d});
  __m128d angle = _mm_add_pd(base, _mm_add_pd(fit.v, rest));
  // Within the range x is never a zero, so its sign is x < 0.
  const __m128d behind = _mm_cmplt_pd(x, _mm_setzero_pd());
  angle =
      choose(behind, _mm_add_pd(_mm_sub_pd(_mm_set1_pd(kPi), angle), _mm_set1_pd(kPiRest)), angle);
  angle = _mm_or_pd(_mm_andnot_pd(sign, angle), _mm_and_pd(sign, y));
  a0 = _mm_cvtsd_f64(angle);
  a1 = _mm_cvtsd_f64(_mm_unpackhi_pd(angle, angle));
#else
  a0 = Atan2(y0, x0);
  a1 = Atan2(y1, x1);
#endif
}

}  // namespace fbhost_internal
