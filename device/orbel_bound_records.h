// Pairs each reader record with the device's node of the same key, for the
// per-sample passes (node writes and keys). Both maps are ordered by the
// same byte-wise key order, so one forward walk over each finds every pair:
// a lookup per record would compare a dozen keys where the walk compares
// one or two.
#pragma once

#include <map>
#include <type_traits>

#include <fbsdk/fbstring.h>

namespace orbel::device {

// One host length unit is ten of the server's: translations and positions
// are scaled on their way to a node or a key, rotations are not.
constexpr double kTranslationScale = 0.1;

// The three values a node or a key gets for a record's three: scaled, or
// zeros. The node writers and the key writers both use it, so that a key
// holds exactly what the node of the same sample is written.
inline void NodeValues(const double* values, double scale, bool zero, double* out) {
  for (int i = 0; i < 3; ++i) out[i] = zero ? 0.0 : values[i] * scale;
}

// Equality alone is cheaper than the order: lengths first, then one memcmp.
inline bool SameKey(const FBString& a, const FBString& b) { return a.str() == b.str(); }

// Calls visit(recordEntry, node) for every record whose key has a node, in
// key order.
template <typename Record, typename Node, typename Visit>
void ForEachBoundRecord(const std::map<FBString, Record>& records,
                        const std::map<FBString, Node*>& nodes, Visit&& visit) {
  static_assert(std::is_same_v<typename std::map<FBString, Record>::key_compare,
                               typename std::map<FBString, Node*>::key_compare>,
                "records and nodes must share one key order");
  if (records.empty() || nodes.empty()) return;
  const auto less = nodes.key_comp();
  auto node = nodes.lower_bound(records.begin()->first);
  for (const auto& entry : records) {
    if (node == nodes.end()) return;
    // Nearly every record has its node next in line: one equality test
    // then, where the ordering tests below cost two comparisons.
    if (SameKey(node->first, entry.first)) {
      visit(entry, node->second);
      ++node;
      continue;
    }
    while (node != nodes.end() && less(node->first, entry.first)) ++node;
    if (node == nodes.end()) return;
    if (!less(entry.first, node->first)) visit(entry, node->second);
  }
}

// As above with two node maps (a segment's translation and rotation): calls
// visit(recordEntry, first, second) with null for a map lacking the key, for
// every record that has a node in at least one of them.
template <typename Record, typename Node, typename Visit>
void ForEachBoundRecord(const std::map<FBString, Record>& records,
                        const std::map<FBString, Node*>& firstNodes,
                        const std::map<FBString, Node*>& secondNodes, Visit&& visit) {
  if (records.empty()) return;
  const auto less = firstNodes.key_comp();
  const FBString& from = records.begin()->first;
  auto first = firstNodes.lower_bound(from);
  auto second = secondNodes.lower_bound(from);
  // The node of this key in one map, or null; moves that map's walk past
  // the key when it is there.
  auto nodeOf = [&less](const FBString& key, auto& at, const auto& end) -> Node* {
    if (at != end && SameKey(at->first, key)) return (at++)->second;
    while (at != end && less(at->first, key)) ++at;
    if (at != end && !less(key, at->first)) return (at++)->second;
    return nullptr;
  };
  const auto firstEnd = firstNodes.end();
  const auto secondEnd = secondNodes.end();
  for (const auto& entry : records) {
    if (first == firstEnd && second == secondEnd) return;
    Node* a = nodeOf(entry.first, first, firstEnd);
    Node* b = nodeOf(entry.first, second, secondEnd);
    if (a != nullptr || b != nullptr) visit(entry, a, b);
  }
}

}  // namespace orbel::device
