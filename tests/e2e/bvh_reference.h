// A small BVH reader of the tests' own, independent of the server's, used
// as the reference the exports are compared with: it reads the joints, their
// offsets and channels and the motion, and turns a frame into local
// translations and rotation matrices by the textbook rules (a joint's
// channels apply in the order listed, R = R1 * R2 * R3; translation is
// OFFSET plus the position channels).
#pragma once

#include <Eigen/Geometry>

#include <string>
#include <vector>

namespace orbel::testing {

struct ReferenceJoint {
  std::string name;
  int parent = -1;
  Eigen::Vector3d offset = Eigen::Vector3d::Zero();
  std::vector<std::string> channels;  // "Xposition", ..., "Zrotation"
  int firstChannel = 0;               // index of its first value in a motion line
};

struct ReferenceBvh {
  std::vector<ReferenceJoint> joints;  // file order
  int endSites = 0;
  double frameTime = 0.0;
  std::vector<std::vector<double>> frames;

  // Local translation and rotation of a joint in a frame.
  Eigen::Vector3d LocalTranslation(int joint, int frame) const;
  Eigen::Matrix3d LocalRotation(int joint, int frame) const;
  // World position of a joint's origin in a frame (forward kinematics).
  Eigen::Vector3d WorldPosition(int joint, int frame) const;
  int JointIndex(const std::string& name) const;
};

// False with *error (naming the token and its line) for anything this
// reader does not understand.
bool ParseReferenceBvh(const std::string& text, ReferenceBvh* bvh, std::string* error);

// The angle in radians of the rotation that takes b to a.
double RotationAngleBetween(const Eigen::Matrix3d& a, const Eigen::Matrix3d& b);

}  // namespace orbel::testing
