#include "take_curves.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace orbel::hostapp {

TakeModelTree ModelTree(const FBTake& take) {
  TakeModelTree tree;
  tree.models = take.GetModels();
  tree.children.resize(tree.models.size());
  for (std::size_t i = 0; i < tree.models.size(); ++i) {
    const int parent = tree.models[i].parent;
    if (parent >= 0) tree.children[static_cast<std::size_t>(parent)].push_back(static_cast<int>(i));
  }
  for (auto& kids : tree.children) {
    std::stable_sort(kids.begin(), kids.end(), [&tree](int a, int b) {
      return tree.models[static_cast<std::size_t>(a)].childIndex <
             tree.models[static_cast<std::size_t>(b)].childIndex;
    });
  }
  return tree;
}

int FindModel(const TakeModelTree& tree, const std::string& label) {
  for (std::size_t i = 0; i < tree.models.size(); ++i) {
    if (tree.models[i].label == label) return static_cast<int>(i);
  }
  return -1;
}

std::set<std::string> CurveNames(const FBTake& take, int layer) {
  std::set<std::string> names;
  for (const FBTakeCurve& curve : take.GetCurves()) {
    if (curve.layer == layer && curve.keyCount > 0) names.insert(curve.nodeName);
  }
  return names;
}

std::vector<FBTakeKey> RecordedKeys(FBTake& take, const std::set<std::string>& curveNames,
                                    const std::string& modelLabel, const char* dataType,
                                    int layer) {
  const std::string name = modelLabel + " " + dataType;
  if (curveNames.count(name) == 0) return {};
  // The take lists the curve, so it made this node when recording began;
  // asking for it again makes nothing.
  FBAnimationNode* node = take.RecordNode(modelLabel, dataType);
  return take.GetKeys(node, layer);
}

const FBTakeKey& KeyAt(const std::vector<FBTakeKey>& keys, FBTime time, bool* exact) {
  const auto after = std::upper_bound(keys.begin(), keys.end(), time,
                                      [](FBTime t, const FBTakeKey& k) { return t < k.time; });
  if (after == keys.begin()) {
    *exact = keys.front().time == time;
    return keys.front();
  }
  const FBTakeKey& at = *(after - 1);
  *exact = at.time == time;
  return at;
}

std::string NamespaceOf(const std::string& label) {
  const std::size_t colon = label.find(':');
  return colon == std::string::npos ? std::string() : label.substr(0, colon);
}

std::string NameOf(const std::string& label) {
  const std::size_t colon = label.find(':');
  return colon == std::string::npos ? label : label.substr(colon + 1);
}

std::string SubjectOf(const TakeModelTree& tree, int model) {
  const int parent = tree.models[static_cast<std::size_t>(model)].parent;
  return NamespaceOf(tree.models[static_cast<std::size_t>(parent >= 0 ? parent : model)].label);
}

std::string CharacterPrefix(const std::string& subject) {
  std::string base = subject;
  const std::size_t blank = base.find_last_of(' ');
  if (blank != std::string::npos && blank + 1 < base.size() &&
      base.find_first_not_of("0123456789", blank + 1) == std::string::npos) {
    base.erase(blank);
  }
  return base.empty() ? std::string() : base + "_";
}

std::string FormatDouble(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace orbel::hostapp
