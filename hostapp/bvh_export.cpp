#include "bvh_export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include <fbsdk/fbanimation.h>

#include "take_curves.h"

namespace orbel::hostapp {

namespace {

constexpr int kBaseLayer = 0;

// Models are the ones the take recorded (see take_curves.h), by index.
bool IsSkeleton(const TakeModelTree& tree, int model) {
  return model >= 0 && tree.models[static_cast<std::size_t>(model)].kind == "Skeleton";
}

const FBTakeModel& ModelAt(const TakeModelTree& tree, int model) {
  return tree.models[static_cast<std::size_t>(model)];
}

// BVH separates words by blanks and nests by braces.
std::string BvhWord(const std::string& name) {
  std::string word;
  for (char c : name) {
    word += (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '{' || c == '}') ? '_' : c;
  }
  return word.empty() ? "joint" : word;
}

struct JointSource {
  int model = -1;
  int parent = -1;
  std::vector<FBTakeKey> translationKeys;
  std::vector<FBTakeKey> rotationKeys;
};

// Depth first, children in child-list order; iterative, because a scene
// file may nest models as deep as it likes.
void AddSkeleton(const TakeModelTree& tree, int root, std::vector<JointSource>* joints) {
  std::vector<std::pair<int, int>> pending{{root, -1}};
  while (!pending.empty()) {
    const auto [model, parent] = pending.back();
    pending.pop_back();
    JointSource joint;
    joint.model = model;
    joint.parent = parent;
    joints->push_back(std::move(joint));
    const int index = static_cast<int>(joints->size()) - 1;
    const auto& kids = tree.children[static_cast<std::size_t>(model)];
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
      if (IsSkeleton(tree, *it)) pending.emplace_back(*it, index);
    }
  }
}

void NameJoints(const TakeModelTree& tree, const std::vector<JointSource>& sources,
                std::vector<BvhJoint>* joints) {
  // Strip the character prefix skeleton by skeleton, only where every joint
  // of that skeleton carries it.
  std::map<int, std::string> prefixOfRoot;
  std::vector<int> rootOf(sources.size(), 0);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    rootOf[i] = sources[i].parent < 0 ? static_cast<int>(i) : rootOf[sources[i].parent];
    if (sources[i].parent < 0)
      prefixOfRoot[static_cast<int>(i)] = CharacterPrefix(SubjectOf(tree, sources[i].model));
  }
  for (std::size_t i = 0; i < sources.size(); ++i) {
    std::string& prefix = prefixOfRoot[rootOf[i]];
    const std::string name = NameOf(ModelAt(tree, sources[i].model).label);
    if (!prefix.empty() &&
        (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)) {
      prefix.clear();
    }
  }
  std::set<std::string> taken;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const std::string& prefix = prefixOfRoot[rootOf[i]];
    std::string name = NameOf(ModelAt(tree, sources[i].model).label);
    if (!prefix.empty()) name.erase(0, prefix.size());
    name = BvhWord(name);
    std::string unique = name;
    for (int n = 2; taken.count(unique) > 0; ++n) unique = name + "_" + std::to_string(n);
    taken.insert(unique);
    (*joints)[i].name = unique;
  }
}

bool Finite(const std::array<double, 3>& v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

bool Moves(const std::vector<std::array<double, 3>>& values) {
  for (const auto& v : values) {
    for (int axis = 0; axis < 3; ++axis) {
      const double first = values.front()[axis];
      if (std::fabs(v[axis] - first) > 1e-9 * (1.0 + std::fabs(first))) return true;
    }
  }
  return false;
}

std::array<double, 3> ToArray(const double* v) { return {v[0], v[1], v[2]}; }

std::string SecondsText(FBTime time) {
  char text[40];
  std::snprintf(text, sizeof text, "%.6f s", time.GetSecondDouble());
  return text;
}

}  // namespace

bool CollectBvhMotion(FBTake& take, const std::string& subject, BvhMotion* motion,
                      std::string* error) {
  *motion = BvhMotion();
  const std::set<std::string> curves = CurveNames(take, kBaseLayer);
  const std::string takeName = "take '" + take.GetLabelName().str() + "'";

  // Skeletons, in the order the take first recorded their roots.
  const TakeModelTree tree = ModelTree(take);
  std::vector<JointSource> sources;
  std::set<std::string> subjectsSeen;
  for (int model = 0; model < static_cast<int>(tree.models.size()); ++model) {
    if (!IsSkeleton(tree, model) || IsSkeleton(tree, ModelAt(tree, model).parent)) continue;
    const std::string rootSubject = SubjectOf(tree, model);
    subjectsSeen.insert(rootSubject);
    if (!subject.empty() && rootSubject != subject) continue;
    std::vector<JointSource> skeleton;
    AddSkeleton(tree, model, &skeleton);
    bool keyed = false;
    for (JointSource& joint : skeleton) {
      const std::string& label = ModelAt(tree, joint.model).label;
      joint.translationKeys = RecordedKeys(take, curves, label, kFBDataTypeTranslation, kBaseLayer);
      joint.rotationKeys = RecordedKeys(take, curves, label, kFBDataTypeRotation, kBaseLayer);
      keyed = keyed || !joint.translationKeys.empty() || !joint.rotationKeys.empty();
    }
    if (!keyed) {
      motion->notes.push_back("skeleton '" + ModelAt(tree, model).label + "' has no keys in " +
                              takeName + "; left out");
      continue;
    }
    const int base = static_cast<int>(sources.size());
    for (JointSource& joint : skeleton) {
      if (joint.parent >= 0) joint.parent += base;
      sources.push_back(std::move(joint));
    }
  }
  if (sources.empty()) {
    if (error != nullptr) {
      if (!subject.empty() && subjectsSeen.count(subject) == 0) {
        std::string known;
        for (const auto& s : subjectsSeen) known += (known.empty() ? "'" : ", '") + s + "'";
        *error = "no skeleton belongs to subject '" + subject + "'" +
                 (known.empty() ? std::string(" (the take recorded no skeleton)")
                                : " (subjects: " + known + ")");
      } else {
        *error = "no skeleton model has keys in " + takeName +
                 " (record with the device armed, bound and streaming bones)";
      }
    }
    motion->notes.clear();
    return false;
  }

  std::set<FBTime> times;
  for (const JointSource& joint : sources) {
    for (const FBTakeKey& key : joint.translationKeys) times.insert(key.time);
    for (const FBTakeKey& key : joint.rotationKeys) times.insert(key.time);
  }
  motion->frameTimes.assign(times.begin(), times.end());
  const std::size_t frames = motion->frameTimes.size();
  if (frames >= 2) {
    const FBTime span = motion->frameTimes.back() - motion->frameTimes.front();
    motion->frameTimeSeconds = span.GetSecondDouble() / static_cast<double>(frames - 1);
  } else {
    motion->notes.push_back("the take holds one sample; Frame Time is set to 1/120 s");
  }

  motion->joints.resize(sources.size());
  NameJoints(tree, sources, &motion->joints);
  std::size_t held = 0;
  for (std::size_t j = 0; j < sources.size(); ++j) {
    const JointSource& source = sources[j];
    BvhJoint& joint = motion->joints[j];
    const FBTakeModel& model = ModelAt(tree, source.model);
    joint.modelLabel = model.label;
    joint.parent = source.parent;
    const std::array<double, 3> restT = ToArray(model.translation);
    const std::array<double, 3> restR = ToArray(model.rotation);
    if (source.translationKeys.empty() || source.rotationKeys.empty()) {
      motion->notes.push_back("joint '" + joint.modelLabel + "' has no recorded " +
                              (source.rotationKeys.empty() ? "rotation" : "translation") +
                              "; its value when recording began is used in every frame");
    }
    joint.translations.reserve(frames);
    joint.rotations.reserve(frames);
    for (std::size_t f = 0; f < frames; ++f) {
      const FBTime time = motion->frameTimes[f];
      bool exact = true;
      std::array<double, 3> t = restT, r = restR;
      if (!source.translationKeys.empty()) {
        const FBTakeKey& key = KeyAt(source.translationKeys, time, &exact);
        t = {key.value[0], key.value[1], key.value[2]};
        if (!exact) ++held;
      }
      if (!source.rotationKeys.empty()) {
        const FBTakeKey& key = KeyAt(source.rotationKeys, time, &exact);
        r = {key.value[0], key.value[1], key.value[2]};
        if (!exact) ++held;
      }
      if (!Finite(t) || !Finite(r)) {
        if (error != nullptr) {
          *error = "joint '" + joint.modelLabel + "' holds a value that is not a number at " +
                   SecondsText(time) + " of " + takeName + "; BVH cannot carry it";
        }
        return false;
      }
      joint.translations.push_back(t);
      joint.rotations.push_back(r);
    }
    joint.hasPositions = joint.parent < 0 || Moves(joint.translations);
    joint.offset =
        joint.hasPositions ? std::array<double, 3>{0.0, 0.0, 0.0} : joint.translations[0];
  }
  if (held > 0) {
    motion->notes.push_back(std::to_string(held) +
                            " joint values had no key at their frame's time and hold the key "
                            "before it");
  }
  return true;
}

std::string FormatBvh(const BvhMotion& motion) {
  const auto& joints = motion.joints;
  std::vector<std::vector<int>> children(joints.size());
  for (std::size_t j = 0; j < joints.size(); ++j) {
    if (joints[j].parent >= 0) children[joints[j].parent].push_back(static_cast<int>(j));
  }
  std::string out = "HIERARCHY\n";
  auto indent = [&out](int depth) { out.append(static_cast<std::size_t>(depth), '\t'); };
  auto vector = [](const std::array<double, 3>& v) {
    return FormatDouble(v[0]) + " " + FormatDouble(v[1]) + " " + FormatDouble(v[2]);
  };
  // Iterative, so a deep hierarchy cannot exhaust the stack.
  struct Step {
    int joint;
    int depth;
    bool close;
  };
  std::vector<Step> pending;
  for (std::size_t j = joints.size(); j-- > 0;) {
    if (joints[j].parent < 0) pending.push_back({static_cast<int>(j), 0, false});
  }
  while (!pending.empty()) {
    const Step step = pending.back();
    pending.pop_back();
    const BvhJoint& joint = joints[step.joint];
    if (step.close) {
      if (children[step.joint].empty()) {
        indent(step.depth + 1);
        out += "End Site\n";
        indent(step.depth + 1);
        out += "{\n";
        indent(step.depth + 2);
        out += "OFFSET 0 0 0\n";
        indent(step.depth + 1);
        out += "}\n";
      }
      indent(step.depth);
      out += "}\n";
      continue;
    }
    indent(step.depth);
    out += (joint.parent < 0 ? "ROOT " : "JOINT ") + joint.name + "\n";
    indent(step.depth);
    out += "{\n";
    indent(step.depth + 1);
    out += "OFFSET " + vector(joint.offset) + "\n";
    indent(step.depth + 1);
    out += joint.hasPositions
               ? "CHANNELS 6 Xposition Yposition Zposition Zrotation Yrotation Xrotation\n"
               : "CHANNELS 3 Zrotation Yrotation Xrotation\n";
    pending.push_back({step.joint, step.depth, true});
    const auto& kids = children[step.joint];
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
      pending.push_back({*it, step.depth + 1, false});
    }
  }
  out += "MOTION\n";
  out += "Frames: " + std::to_string(motion.frameTimes.size()) + "\n";
  char frameTime[40];
  std::snprintf(frameTime, sizeof frameTime, "%.9g", motion.frameTimeSeconds);
  out += std::string("Frame Time: ") + frameTime + "\n";
  // Channels in hierarchy order: the order the header above declares them.
  std::vector<int> order;
  {
    std::vector<int> stack;
    for (std::size_t j = joints.size(); j-- > 0;) {
      if (joints[j].parent < 0) stack.push_back(static_cast<int>(j));
    }
    while (!stack.empty()) {
      const int j = stack.back();
      stack.pop_back();
      order.push_back(j);
      for (auto it = children[j].rbegin(); it != children[j].rend(); ++it) stack.push_back(*it);
    }
  }
  for (std::size_t f = 0; f < motion.frameTimes.size(); ++f) {
    std::string line;
    for (int j : order) {
      const BvhJoint& joint = joints[j];
      if (joint.hasPositions) {
        for (int axis = 0; axis < 3; ++axis) {
          line += FormatDouble(joint.translations[f][axis]);
          line += ' ';
        }
      }
      const auto& r = joint.rotations[f];
      line += FormatDouble(r[2]) + " " + FormatDouble(r[1]) + " " + FormatDouble(r[0]) + " ";
    }
    if (!line.empty()) line.pop_back();
    out += line + "\n";
  }
  return out;
}

}  // namespace orbel::hostapp
