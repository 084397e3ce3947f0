#include "rotation.h"

#include <cassert>
#include <cmath>

namespace orbel::server::playback {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

Quat axisRotation(int axis, double degrees) {
  assert(axis >= 0 && axis < 3 && "axis must be 0 (X), 1 (Y) or 2 (Z)");
  // Reduce before halving so that angles far past 180 degrees (unwrapped
  // recordings) keep full precision in sin and cos.
  const double half = std::fmod(degrees, 720.0) * (kPi / 360.0);
  Quat q = {0, 0, 0, std::cos(half)};
  q[static_cast<std::size_t>(axis)] = std::sin(half);
  return q;
}

Quat eulerToQuat(const int (&axes)[3], const double (&degrees)[3]) {
  return multiply(multiply(axisRotation(axes[0], degrees[0]), axisRotation(axes[1], degrees[1])),
                  axisRotation(axes[2], degrees[2]));
}

Quat multiply(const Quat& a, const Quat& b) {
  return {
      a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1],
      a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0],
      a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3],
      a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2],
  };
}

Vec3 rotate(const Quat& q, const Vec3& v) {
  // v + 2w (u x v) + 2 u x (u x v), with u the vector part.
  const double tx = 2 * (q[1] * v[2] - q[2] * v[1]);
  const double ty = 2 * (q[2] * v[0] - q[0] * v[2]);
  const double tz = 2 * (q[0] * v[1] - q[1] * v[0]);
  return {
      v[0] + q[3] * tx + (q[1] * tz - q[2] * ty),
      v[1] + q[3] * ty + (q[2] * tx - q[0] * tz),
      v[2] + q[3] * tz + (q[0] * ty - q[1] * tx),
  };
}

double norm(const Quat& q) {
  return std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
}

Quat slerp(const Quat& a, const Quat& b, double t) {
  if (t <= 0) return a;
  if (t >= 1) return b;
  // Keyframes may be written slightly off unit length; interpolate between
  // the rotations they mean.
  Quat from = a;
  Quat to = b;
  const double na = norm(a);
  const double nb = norm(b);
  for (double& c : from) c /= na;
  for (double& c : to) c /= nb;
  double cosTheta = from[0] * to[0] + from[1] * to[1] + from[2] * to[2] + from[3] * to[3];
  if (cosTheta < 0) {  // q and -q are one rotation: take the short way round
    cosTheta = -cosTheta;
    for (double& c : to) c = -c;
  }
  double wa = 1 - t;
  double wb = t;
  if (cosTheta < 0.9995) {
    const double theta = std::acos(cosTheta);
    const double sinTheta = std::sin(theta);
    wa = std::sin((1 - t) * theta) / sinTheta;
    wb = std::sin(t * theta) / sinTheta;
  }
  Quat out;
  for (std::size_t i = 0; i < 4; ++i) out[i] = wa * from[i] + wb * to[i];
  const double n = norm(out);
  for (double& c : out) c /= n;
  return out;
}

}  // namespace orbel::server::playback
