#include "fbsdk/fbrotation.h"

#include <algorithm>
#include <cmath>

#include "angle_math.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerRadian = 180.0 / kPi;
// cos(middle angle) below this is gimbal lock.
constexpr double kGimbalLockCosine = 1e-12;

// Axes in the order they are applied (first, middle, last), and the parity
// sign: +1 for the cyclic orders XYZ, YZX, ZXY, -1 for the others.
struct OrderAxes {
  int first;
  int middle;
  int last;
  double sign;
};

OrderAxes AxesOf(FBRotationOrder order) {
  switch (order) {
    case kFBXYZ:
      return {0, 1, 2, 1.0};
    case kFBXZY:
      return {0, 2, 1, -1.0};
    case kFBYZX:
      return {1, 2, 0, 1.0};
    case kFBYXZ:
      return {1, 0, 2, -1.0};
    case kFBZXY:
      return {2, 0, 1, 1.0};
    case kFBZYX:
      return {2, 1, 0, -1.0};
  }
  return {0, 1, 2, 1.0};  // an out-of-range value: kFBXYZ, as documented
}

// Degrees in (-180, 180], without negative zero.
double ToDegrees(double radians) {
  double degrees = radians * kDegreesPerRadian;
  if (degrees <= -180.0) degrees += 360.0;
  return degrees + 0.0;
}

}  // namespace

namespace {

// The conversion for one order, with its axes (first, middle, last) and
// parity sign as constants: a sample converts hundreds of rotations, and
// with the axes known the compiler drops the index arithmetic.
template <int i, int j, int k, int sign>
void QuaternionToAngles(double angles[3], const double q[4]) noexcept {
  constexpr double s = sign;
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const double xx = x * x, yy = y * y, zz = z * z, ww = w * w;
  const double normSquared = (xx + yy) + (zz + ww);
  const double x2 = 2.0 * x, y2 = 2.0 * y, z2 = 2.0 * z;
  const double xy = x2 * y, xz = x2 * z, yz = y2 * z;
  const double wx = x2 * w, wy = y2 * w, wz = z2 * w;

  // The rotation matrix (acting on column vectors) times the squared norm.
  // Every angle below is an atan2 of two entries, which no positive scale
  // changes, so the norm is never divided out: that division sat at the
  // head of every conversion's chain of dependent steps.
  const double r[3][3] = {
      {(ww + xx) - (yy + zz), xy - wz, xz + wy},
      {xy + wz, (ww + yy) - (xx + zz), yz - wx},
      {xz - wy, yz + wx, (ww + zz) - (xx + yy)},
  };

  // R = R_last(c) * R_middle(b) * R_first(a).
  // The entries are bounded by the squared norm in magnitude, which the
  // caller keeps far from overflow, so the plain square root cannot
  // overflow.
  const double cosMiddle = std::sqrt(r[i][i] * r[i][i] + r[j][i] * r[j][i]);
  // At gimbal lock only first -/+ last is defined: keep last = 0. Elsewhere
  // cos and sin of last are the column entries already at hand, divided by
  // cos(middle).
  // Undo the last rotation: row `middle` of R_last(-c) * R = R_middle(b) * R_first(a),
  // whose entries (j, j) and (j, k) are cos(a) and -s sin(a) whatever b is.
  // With cos(c) and sin(c) the column entries divided by cos(middle), both
  // entries carry that positive factor, which atan2 does not need: it is
  // left out, and so is a division.
  double last = 0.0, mjj = r[j][j], mjk = r[j][k];
  if (cosMiddle >= kGimbalLockCosine * normSquared) {
    last = fbhost_internal::Atan2(s * r[j][i], r[i][i]);
    mjj = r[i][i] * r[j][j] - r[j][i] * r[i][j];
    mjk = r[i][i] * r[j][k] - r[j][i] * r[i][k];
  }
  double middle = 0.0, first = 0.0;
  fbhost_internal::Atan2Pair(-s * r[k][i], cosMiddle, -s * mjk, mjj, middle, first);

  angles[i] = ToDegrees(first);
  angles[j] = ToDegrees(middle);
  angles[k] = ToDegrees(last);
}

}  // namespace

void FBQuaternionToRotation(FBVector3<double>& rotation, const FBVector4<double>& quaternion,
                            FBRotationOrder order) noexcept {
  double q[4] = {quaternion[0], quaternion[1], quaternion[2], quaternion[3]};
  // The conversion works on the matrix times the squared norm, whose
  // entries must stay far from overflow and underflow when squared. A
  // squared norm within these bounds keeps them so, and the test is false
  // for NaN and infinities: a stream's quaternions, near unit length, skip
  // what follows.
  const double normSquared = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3];
  if (!(normSquared >= 1e-20 && normSquared <= 1e20)) {
    rotation.Set(0.0, 0.0, 0.0);
    // x * 0 is 0 for every finite x and NaN otherwise: one test for all
    // four, without a loop the compiler keeps in memory.
    if (std::isnan(q[0] * 0.0 + q[1] * 0.0 + q[2] * 0.0 + q[3] * 0.0)) return;
    double largest = std::max(std::max(std::fabs(q[0]), std::fabs(q[1])),
                              std::max(std::fabs(q[2]), std::fabs(q[3])));
    if (largest == 0.0) return;
    if (largest < 1e-300) {
      // 1 / largest would overflow for the smallest (subnormal) values.
      for (double& c : q) c *= 1e300;
      largest *= 1e300;
    }
    // Scaled so that the largest component is 1 (the squared norm is then
    // between 1 and 4); the angles do not depend on the norm.
    const double toUnitLargest = 1.0 / largest;
    for (double& c : q) c *= toUnitLargest;
  }

  double angles[3] = {0.0, 0.0, 0.0};
  switch (order) {
    case kFBXZY:
      QuaternionToAngles<0, 2, 1, -1>(angles, q);
      break;
    case kFBYZX:
      QuaternionToAngles<1, 2, 0, 1>(angles, q);
      break;
    case kFBYXZ:
      QuaternionToAngles<1, 0, 2, -1>(angles, q);
      break;
    case kFBZXY:
      QuaternionToAngles<2, 0, 1, 1>(angles, q);
      break;
    case kFBZYX:
      QuaternionToAngles<2, 1, 0, -1>(angles, q);
      break;
    case kFBXYZ:
    default:  // an out-of-range value: kFBXYZ, as documented
      QuaternionToAngles<0, 1, 2, 1>(angles, q);
      break;
  }
  rotation.Set(angles[0], angles[1], angles[2]);
}

void FBRotationToQuaternion(FBVector4<double>& quaternion, const FBVector3<double>& rotation,
                            FBRotationOrder order) noexcept {
  const OrderAxes ax = AxesOf(order);
  // Hamilton product a * b of quaternions stored (x, y, z, w).
  auto multiply = [](const double a[4], const double b[4], double out[4]) {
    out[0] = a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1];
    out[1] = a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0];
    out[2] = a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3];
    out[3] = a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2];
  };
  auto axisQuaternion = [&rotation](int axis, double out[4]) {
    const double half = rotation[static_cast<std::size_t>(axis)] / kDegreesPerRadian / 2.0;
    out[0] = out[1] = out[2] = 0.0;
    out[axis] = std::sin(half);
    out[3] = std::cos(half);
  };
  double qa[4], qb[4], qc[4], t[4], q[4];
  axisQuaternion(ax.first, qa);
  axisQuaternion(ax.middle, qb);
  axisQuaternion(ax.last, qc);
  // q = q_last * q_middle * q_first, as R = R_last * R_middle * R_first.
  multiply(qc, qb, t);
  multiply(t, qa, q);
  const double sign = q[3] < 0.0 ? -1.0 : 1.0;
  quaternion.Set(sign * q[0], sign * q[1], sign * q[2], sign * q[3]);
}
