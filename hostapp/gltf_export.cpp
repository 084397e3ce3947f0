#include "gltf_export.h"

#include <tiny_gltf.h>

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include <fbsdk/fbanimation.h>
#include <fbsdk/fbrotation.h>

#include "bvh_export.h"
#include "csv_export.h"
#include "take_curves.h"

namespace orbel::hostapp {

namespace {

constexpr int kBaseLayer = 0;

// One buffer, one buffer view per accessor: simple, and every reader takes it.
class GlbBuilder {
 public:
  GlbBuilder() { mModel.buffers.emplace_back(); }

  tinygltf::Model& Model() { return mModel; }

  // An accessor over `values`, `width` floats per element (1, 3 or 4).
  // Animation inputs need their bounds; the other accessors go without.
  int Accessor(const std::vector<float>& values, int width, bool bounds) {
    std::vector<unsigned char>& data = mModel.buffers[0].data;
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = data.size();
    view.byteLength = values.size() * sizeof(float);
    data.resize(data.size() + view.byteLength);
    std::memcpy(data.data() + view.byteOffset, values.data(), view.byteLength);
    mModel.bufferViews.push_back(view);

    tinygltf::Accessor accessor;
    accessor.bufferView = static_cast<int>(mModel.bufferViews.size()) - 1;
    accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
    accessor.count = values.size() / static_cast<std::size_t>(width);
    accessor.type =
        width == 1 ? TINYGLTF_TYPE_SCALAR : (width == 3 ? TINYGLTF_TYPE_VEC3 : TINYGLTF_TYPE_VEC4);
    if (bounds && !values.empty()) {
      accessor.minValues.assign(static_cast<std::size_t>(width), HUGE_VAL);
      accessor.maxValues.assign(static_cast<std::size_t>(width), -HUGE_VAL);
      for (std::size_t i = 0; i < values.size(); ++i) {
        double& low = accessor.minValues[i % static_cast<std::size_t>(width)];
        double& high = accessor.maxValues[i % static_cast<std::size_t>(width)];
        low = std::min(low, static_cast<double>(values[i]));
        high = std::max(high, static_cast<double>(values[i]));
      }
    }
    mModel.accessors.push_back(accessor);
    return static_cast<int>(mModel.accessors.size()) - 1;
  }

  // The input accessor of these key times, shared by every curve keyed at
  // the same times (every segment of a take, usually every marker).
  int Times(const std::vector<FBTime>& times, FBTime origin) {
    const auto found = mTimes.find(times);
    if (found != mTimes.end()) return found->second;
    std::vector<float> seconds;
    seconds.reserve(times.size());
    for (FBTime t : times) seconds.push_back(static_cast<float>((t - origin).GetSecondDouble()));
    const int accessor = Accessor(seconds, 1, true);
    mTimes.emplace(times, accessor);
    return accessor;
  }

  void Channel(int node, const char* path, int input, int output) {
    tinygltf::AnimationSampler sampler;
    sampler.input = input;
    sampler.output = output;
    sampler.interpolation = "LINEAR";
    mAnimation.samplers.push_back(sampler);
    tinygltf::AnimationChannel channel;
    channel.sampler = static_cast<int>(mAnimation.samplers.size()) - 1;
    channel.target_node = node;
    channel.target_path = path;
    mAnimation.channels.push_back(channel);
  }

  int Node(const std::string& name, int parent) {
    tinygltf::Node node;
    node.name = name;
    mModel.nodes.push_back(node);
    const int index = static_cast<int>(mModel.nodes.size()) - 1;
    if (parent >= 0) mModel.nodes[static_cast<std::size_t>(parent)].children.push_back(index);
    return index;
  }

  void Finish(const std::string& animationName) {
    mAnimation.name = animationName;
    if (!mAnimation.channels.empty()) mModel.animations.push_back(mAnimation);
  }

 private:
  tinygltf::Model mModel;
  tinygltf::Animation mAnimation;
  std::map<std::vector<FBTime>, int> mTimes;
};

// Names are unique in the file: tools find nodes by name.
std::string UniqueName(const std::string& wanted, std::set<std::string>* taken) {
  std::string name = wanted.empty() ? std::string("node") : wanted;
  std::string unique = name;
  for (int n = 2; taken->count(unique) > 0; ++n) unique = name + "_" + std::to_string(n);
  taken->insert(unique);
  return unique;
}

void PushMetres(const std::array<double, 3>& v, std::vector<float>* out) {
  for (double c : v) out->push_back(static_cast<float>(c * kMetresPerHostUnit));
}

std::vector<double> Metres(const std::array<double, 3>& v) {
  return {static_cast<float>(v[0] * kMetresPerHostUnit),
          static_cast<float>(v[1] * kMetresPerHostUnit),
          static_cast<float>(v[2] * kMetresPerHostUnit)};
}

// Quaternion (x, y, z, w) of Euler degrees in the host's order.
std::array<double, 4> Quaternion(const std::array<double, 3>& degrees) {
  FBVector4<double> q;
  FBRotationToQuaternion(q, FBVector3<double>(degrees[0], degrees[1], degrees[2]), kFBXYZ);
  return {q[0], q[1], q[2], q[3]};
}

bool IsLabelledMarker(const TakeModelTree& tree, int model) {
  if (model < 0) return false;
  const int parent = tree.models[static_cast<std::size_t>(model)].parent;
  return parent >= 0 && tree.models[static_cast<std::size_t>(parent)].kind == "Null" &&
         SubjectOf(tree, model) != kUnlabeledSubject;
}

// Whether a skeleton model (of the subject) has a curve in the take: then a
// failed skeleton collection is a real failure, not a marker-only take.
bool AnySkeletonKeyed(const FBTake& take, const TakeModelTree& tree, const std::string& subject) {
  const std::set<std::string> curves = CurveNames(take, kBaseLayer);
  for (const FBTakeModel& model : tree.models) {
    if (model.kind != "Skeleton") continue;
    const std::string& label = model.label;
    if (!subject.empty() && NamespaceOf(label) != subject) continue;
    if (curves.count(label + " " + kFBDataTypeTranslation) > 0 ||
        curves.count(label + " " + kFBDataTypeRotation) > 0) {
      return true;
    }
  }
  return false;
}

struct MarkerTrack {
  std::string label;
  std::string subject;
  std::vector<FBTime> times;
  std::vector<std::array<double, 3>> values;
};

// The labelled markers' keys, marker by marker. False with *error for a
// value that is not a number.
bool LabelledMarkers(FBTake& take, const TakeModelTree& tree, const std::string& subject,
                     std::vector<MarkerTrack>* tracks, std::string* error) {
  MarkerTable table;
  std::string none;
  if (!CollectMarkerTable(take, subject, &table, &none)) return true;
  for (std::size_t m = 0; m < table.labels.size(); ++m) {
    const int model = FindModel(tree, table.labels[m]);
    if (!IsLabelledMarker(tree, model)) continue;
    MarkerTrack track;
    track.label = table.labels[m];
    track.subject = SubjectOf(tree, model);
    for (std::size_t row = 0; row < table.times.size(); ++row) {
      const auto& cell = table.rows[row][m];
      if (!cell) continue;
      if (!std::isfinite((*cell)[0]) || !std::isfinite((*cell)[1]) || !std::isfinite((*cell)[2])) {
        *error = "marker '" + track.label + "' holds a value that is not a number at " +
                 FormatDouble(table.times[row].GetSecondDouble()) + " s of take '" +
                 take.GetLabelName().str() + "'; glTF cannot carry it";
        return false;
      }
      track.times.push_back(table.times[row]);
      track.values.push_back(*cell);
    }
    tracks->push_back(std::move(track));
  }
  return true;
}

}  // namespace

bool ExportGltf(FBTake& take, const std::string& subject, std::string* glb, GltfSummary* summary,
                std::string* error) {
  *summary = GltfSummary();
  BvhMotion motion;
  std::string skeletonError;
  const bool skeletons = CollectBvhMotion(take, subject, &motion, &skeletonError);
  // The models the take recorded, not the scene's now: a take exports the
  // same after its models or its device are gone.
  const TakeModelTree tree = ModelTree(take);
  std::vector<MarkerTrack> markers;
  if (!LabelledMarkers(take, tree, subject, &markers, error)) return false;
  if (!skeletons) {
    if (markers.empty() || AnySkeletonKeyed(take, tree, subject)) {
      *error = skeletonError;
      return false;
    }
    summary->notes.push_back(skeletonError + "; the file holds the markers only");
    motion = BvhMotion();
  }
  summary->notes.insert(summary->notes.end(), motion.notes.begin(), motion.notes.end());

  FBTime origin = motion.frameTimes.empty() ? FBTime::Infinity : motion.frameTimes.front();
  for (const MarkerTrack& track : markers) {
    if (!track.times.empty() && track.times.front() < origin) origin = track.times.front();
  }

  GlbBuilder builder;
  tinygltf::Model& model = builder.Model();
  std::set<std::string> taken;
  for (const BvhJoint& joint : motion.joints) taken.insert(joint.name);
  tinygltf::Scene scene;
  std::map<std::string, int> subjectNodes;
  auto subjectNode = [&](const std::string& name) {
    const auto found = subjectNodes.find(name);
    if (found != subjectNodes.end()) return found->second;
    const int node = builder.Node(UniqueName(name.empty() ? "subject" : name, &taken), -1);
    scene.nodes.push_back(node);
    subjectNodes.emplace(name, node);
    return node;
  };

  // Skeletons: joints come parents first, so a parent's node exists before
  // its children's.
  const std::size_t frames = motion.frameTimes.size();
  const int frameTimes = frames > 0 ? builder.Times(motion.frameTimes, origin) : -1;
  std::vector<int> jointNodes(motion.joints.size(), -1);
  for (std::size_t j = 0; j < motion.joints.size(); ++j) {
    const BvhJoint& joint = motion.joints[j];
    int parent = joint.parent >= 0 ? jointNodes[static_cast<std::size_t>(joint.parent)] : -1;
    if (joint.parent < 0) {
      const int root = FindModel(tree, joint.modelLabel);
      parent = subjectNode(root >= 0 ? SubjectOf(tree, root) : NamespaceOf(joint.modelLabel));
    }
    const int node = builder.Node(joint.name, parent);
    jointNodes[j] = node;
    std::vector<float> translations, rotations;
    translations.reserve(frames * 3);
    rotations.reserve(frames * 4);
    std::array<double, 4> previous{0.0, 0.0, 0.0, 1.0};
    for (std::size_t f = 0; f < frames; ++f) {
      PushMetres(joint.translations[f], &translations);
      std::array<double, 4> q = Quaternion(joint.rotations[f]);
      const double dot =
          q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3];
      if (f > 0 && dot < 0.0) {
        for (double& c : q) c = -c;
      }
      for (double c : q) rotations.push_back(static_cast<float>(c));
      previous = q;
    }
    tinygltf::Node& gltfNode = model.nodes[static_cast<std::size_t>(node)];
    gltfNode.translation = Metres(joint.translations.front());
    gltfNode.rotation.assign(rotations.begin(), rotations.begin() + 4);
    builder.Channel(node, "translation", frameTimes, builder.Accessor(translations, 3, false));
    builder.Channel(node, "rotation", frameTimes, builder.Accessor(rotations, 4, false));
  }
  summary->joints = static_cast<int>(motion.joints.size());
  summary->frames = frames;

  for (const MarkerTrack& track : markers) {
    std::string name = NameOf(track.label);
    const std::string prefix = CharacterPrefix(track.subject);
    if (!prefix.empty() && name.size() > prefix.size() &&
        name.compare(0, prefix.size(), prefix) == 0)
      name.erase(0, prefix.size());
    const int node = builder.Node(UniqueName(name, &taken), subjectNode(track.subject));
    std::vector<float> values;
    values.reserve(track.values.size() * 3);
    for (const auto& v : track.values) PushMetres(v, &values);
    model.nodes[static_cast<std::size_t>(node)].translation = Metres(track.values.front());
    builder.Channel(node, "translation", builder.Times(track.times, origin),
                    builder.Accessor(values, 3, false));
  }
  summary->markers = static_cast<int>(markers.size());
  summary->subjects = static_cast<int>(subjectNodes.size());

  const std::string takeName = take.GetLabelName().str();
  builder.Finish(takeName);
  scene.name = takeName;
  model.scenes.push_back(scene);
  model.defaultScene = 0;
  model.asset.version = "2.0";
  model.asset.generator = "orbel-host";
  tinygltf::Value::Object extras;
  extras["lengthUnit"] = tinygltf::Value(std::string("metre"));
  extras["metresPerHostUnit"] = tinygltf::Value(kMetresPerHostUnit);
  extras["rotationOrder"] = tinygltf::Value(std::string("XYZ (R = Rz * Ry * Rx)"));
  extras["take"] = tinygltf::Value(takeName);
  extras["takeStartSeconds"] = tinygltf::Value(origin.GetSecondDouble());
  model.asset.extras = tinygltf::Value(std::move(extras));

  std::ostringstream bytes;
  tinygltf::TinyGLTF writer;
  if (!writer.WriteGltfSceneToStream(&model, bytes, false, true)) {
    *error = "the glTF writer failed";
    return false;
  }
  *glb = bytes.str();
  return true;
}

}  // namespace orbel::hostapp
