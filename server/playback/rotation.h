// Small rotation helpers shared by the BVH and scene-file loaders. Quaternions
// are stored x, y, z, w like the wire's segment rotations, and act on column vectors
// (v' = q v q*), so q1 * q2 applies q2 first.
#pragma once

#include <array>

namespace orbel::server::playback {

using Vec3 = std::array<double, 3>;
using Quat = std::array<double, 4>;  // x, y, z, w

inline constexpr Quat kIdentityQuat = {0, 0, 0, 1};

// Which axis an elementary rotation turns about: 0 = X, 1 = Y, 2 = Z.
Quat axisRotation(int axis, double degrees);

// Intrinsic composition in the listed order: axes {2, 0, 1} with angles
// {a, b, c} gives Rz(a) * Rx(b) * Ry(c).
Quat eulerToQuat(const int (&axes)[3], const double (&degrees)[3]);

Quat multiply(const Quat& a, const Quat& b);
Vec3 rotate(const Quat& q, const Vec3& v);
double norm(const Quat& q);

// Shortest-path spherical interpolation between unit quaternions; t in [0, 1].
// The ends are answered exactly as given so that keyframes are served bit for
// bit.
Quat slerp(const Quat& a, const Quat& b, double t);

// The loaders read Y-up data (BVH) but serve Z-up: a vector (x, y, z) becomes
// (x, -z, y), a proper +90 degree turn about X. A rotation R becomes C R C^T,
// whose quaternion is the same turn with its axis mapped the same way, so the
// conversion is exact (only signs move) and a client mapping back to Y-up
// recovers the file's own numbers bit for bit.
inline Vec3 yUpToZUp(const Vec3& v) { return {v[0], -v[2], v[1]}; }
inline Quat yUpToZUp(const Quat& q) { return {q[0], -q[2], q[1], q[3]}; }

}  // namespace orbel::server::playback
