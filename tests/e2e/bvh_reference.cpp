#include "bvh_reference.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace orbel::testing {

namespace {

struct Tokens {
  std::vector<std::string> words;
  std::vector<int> lines;
  std::size_t at = 0;

  bool Done() const { return at >= words.size(); }
  const std::string& Peek() const { return words[at]; }
  std::string Next() { return Done() ? std::string() : words[at++]; }
  int Line() const { return at < lines.size() ? lines[at] : (lines.empty() ? 0 : lines.back()); }
};

Tokens Tokenize(const std::string& text) {
  Tokens tokens;
  int line = 1;
  std::string word;
  auto flush = [&]() {
    if (!word.empty()) {
      tokens.words.push_back(word);
      tokens.lines.push_back(line);
      word.clear();
    }
  };
  for (char c : text) {
    if (c == '\n') {
      flush();
      ++line;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      flush();
    } else {
      word += c;
    }
  }
  flush();
  return tokens;
}

bool Number(Tokens& t, double* value, std::string* error) {
  const int line = t.Line();
  const std::string word = t.Next();
  char* end = nullptr;
  *value = std::strtod(word.c_str(), &end);
  if (word.empty() || end != word.c_str() + word.size() || !std::isfinite(*value)) {
    *error = "line " + std::to_string(line) + ": expected a number, found '" + word + "'";
    return false;
  }
  return true;
}

bool Expect(Tokens& t, const std::string& word, std::string* error) {
  const int line = t.Line();
  const std::string found = t.Next();
  if (found != word) {
    *error = "line " + std::to_string(line) + ": expected '" + word + "', found '" + found + "'";
    return false;
  }
  return true;
}

bool ParseJoint(Tokens& t, int parent, int* channelCount, ReferenceBvh* bvh, std::string* error) {
  ReferenceJoint joint;
  joint.name = t.Next();
  joint.parent = parent;
  if (!Expect(t, "{", error) || !Expect(t, "OFFSET", error)) return false;
  for (int i = 0; i < 3; ++i) {
    if (!Number(t, &joint.offset[i], error)) return false;
  }
  if (!t.Done() && t.Peek() == "CHANNELS") {
    t.Next();
    double count = 0;
    if (!Number(t, &count, error)) return false;
    for (int i = 0; i < static_cast<int>(count); ++i) joint.channels.push_back(t.Next());
  }
  joint.firstChannel = *channelCount;
  *channelCount += static_cast<int>(joint.channels.size());
  bvh->joints.push_back(joint);
  const int self = static_cast<int>(bvh->joints.size()) - 1;
  while (!t.Done() && t.Peek() != "}") {
    const std::string word = t.Next();
    if (word == "JOINT") {
      if (!ParseJoint(t, self, channelCount, bvh, error)) return false;
    } else if (word == "End") {
      double ignored = 0;
      if (!Expect(t, "Site", error) || !Expect(t, "{", error) || !Expect(t, "OFFSET", error)) {
        return false;
      }
      for (int i = 0; i < 3; ++i) {
        if (!Number(t, &ignored, error)) return false;
      }
      if (!Expect(t, "}", error)) return false;
      ++bvh->endSites;
    } else {
      *error = "line " + std::to_string(t.Line()) + ": unexpected '" + word + "'";
      return false;
    }
  }
  return Expect(t, "}", error);
}

Eigen::Matrix3d AxisRotation(char axis, double degrees) {
  const double radians = degrees * M_PI / 180.0;
  const Eigen::Vector3d unit = axis == 'X'   ? Eigen::Vector3d::UnitX()
                               : axis == 'Y' ? Eigen::Vector3d::UnitY()
                                             : Eigen::Vector3d::UnitZ();
  return Eigen::AngleAxisd(radians, unit).toRotationMatrix();
}

}  // namespace

bool ParseReferenceBvh(const std::string& text, ReferenceBvh* bvh, std::string* error) {
  *bvh = ReferenceBvh();
  Tokens t = Tokenize(text);
  if (!Expect(t, "HIERARCHY", error)) return false;
  int channelCount = 0;
  while (!t.Done() && t.Peek() == "ROOT") {
    t.Next();
    if (!ParseJoint(t, -1, &channelCount, bvh, error)) return false;
  }
  if (!Expect(t, "MOTION", error) || !Expect(t, "Frames:", error)) return false;
  double frames = 0;
  if (!Number(t, &frames, error) || !Expect(t, "Frame", error) || !Expect(t, "Time:", error) ||
      !Number(t, &bvh->frameTime, error)) {
    return false;
  }
  for (int f = 0; f < static_cast<int>(frames); ++f) {
    std::vector<double> values(static_cast<std::size_t>(channelCount));
    for (double& v : values) {
      if (!Number(t, &v, error)) return false;
    }
    bvh->frames.push_back(std::move(values));
  }
  if (!t.Done()) {
    *error = "line " + std::to_string(t.Line()) + ": more values than " +
             std::to_string(static_cast<int>(frames)) + " frames";
    return false;
  }
  return true;
}

Eigen::Vector3d ReferenceBvh::LocalTranslation(int joint, int frame) const {
  const ReferenceJoint& j = joints[joint];
  Eigen::Vector3d t = j.offset;
  for (std::size_t c = 0; c < j.channels.size(); ++c) {
    const std::string& channel = j.channels[c];
    if (channel.size() == 9 && channel.compare(1, 8, "position") == 0) {
      t[channel[0] - 'X'] += frames[frame][j.firstChannel + c];
    }
  }
  return t;
}

Eigen::Matrix3d ReferenceBvh::LocalRotation(int joint, int frame) const {
  const ReferenceJoint& j = joints[joint];
  Eigen::Matrix3d r = Eigen::Matrix3d::Identity();
  for (std::size_t c = 0; c < j.channels.size(); ++c) {
    const std::string& channel = j.channels[c];
    if (channel.size() == 9 && channel.compare(1, 8, "rotation") == 0) {
      r = r * AxisRotation(channel[0], frames[frame][j.firstChannel + c]);
    }
  }
  return r;
}

Eigen::Vector3d ReferenceBvh::WorldPosition(int joint, int frame) const {
  Eigen::Vector3d position = Eigen::Vector3d::Zero();
  // Walk up: p_world = R_parent_world * t_local + p_parent_world.
  std::vector<int> chain;
  for (int j = joint; j >= 0; j = joints[j].parent) chain.push_back(j);
  Eigen::Matrix3d rotation = Eigen::Matrix3d::Identity();
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    position += rotation * LocalTranslation(*it, frame);
    rotation = rotation * LocalRotation(*it, frame);
  }
  return position;
}

int ReferenceBvh::JointIndex(const std::string& name) const {
  for (std::size_t j = 0; j < joints.size(); ++j) {
    if (joints[j].name == name) return static_cast<int>(j);
  }
  return -1;
}

double RotationAngleBetween(const Eigen::Matrix3d& a, const Eigen::Matrix3d& b) {
  return Eigen::AngleAxisd(a.transpose() * b).angle();
}

}  // namespace orbel::testing
