// fbrotation.h: rotation orders and the quaternion <-> Euler conversions.
//
// Side of the boundary: SDK. Implemented in libfbsdk (sdk/src/fbrotation.cpp).
// Pure functions: safe on any thread.
//
// Conventions (also in docs of every caller that relies on them):
// - A quaternion is (x, y, z, w) with w the scalar part. It need not be unit
//   length; it is normalised first.
// - Angles are in degrees, in an FBVector3<double> (x, y, z): the angle about
//   the X axis in component 0, Y in 1, Z in 2, whatever the order.
// - Rotations act on column vectors in a fixed (extrinsic) frame. The order
//   names the axes in the order they are applied: kFBXYZ rotates about X
//   first, then Y, then Z, that is R = Rz(z) * Ry(y) * Rx(x).
#pragma once

#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbvector.h"

enum FBRotationOrder {
  kFBXYZ = 0,  // R = Rz * Ry * Rx
  kFBXZY = 1,  // R = Ry * Rz * Rx
  kFBYZX = 2,  // R = Rx * Rz * Ry
  kFBYXZ = 3,  // R = Rz * Rx * Ry
  kFBZXY = 4,  // R = Ry * Rx * Rz
  kFBZYX = 5,  // R = Rx * Ry * Rz
};

// Euler angles (degrees) of the rotation that quaternion q describes, for the
// given order. Results: the first-applied and last-applied angles in
// (-180, 180], the middle angle in [-90, 90]. At gimbal lock (middle angle
// +-90 degrees, detected as cos(middle) < 1e-12 of the matrix' scale) the
// last-applied angle is 0 and the first-applied angle carries the whole
// remaining rotation; the angles then still rebuild q's matrix. A zero or
// non-finite quaternion gives (0, 0, 0). An order value outside the
// enumeration is treated as kFBXYZ.
FBSDK_API void FBQuaternionToRotation(FBVector3<double>& rotation,
                                      const FBVector4<double>& quaternion,
                                      FBRotationOrder order = kFBXYZ) noexcept;

// The unit quaternion (x, y, z, w) with w >= 0 for Euler angles (degrees) in
// the given order; the inverse of FBQuaternionToRotation up to the sign of q.
FBSDK_API void FBRotationToQuaternion(FBVector4<double>& quaternion,
                                      const FBVector3<double>& rotation,
                                      FBRotationOrder order = kFBXYZ) noexcept;
