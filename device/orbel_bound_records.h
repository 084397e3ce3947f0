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
  for (const auto& entry : records) {
    while (first != firstNodes.end() && less(first->first, entry.first)) ++first;
    while (second != secondNodes.end() && less(second->first, entry.first)) ++second;
    if (first == firstNodes.end() && second == secondNodes.end()) return;
    Node* a =
        first != firstNodes.end() && !less(entry.first, first->first) ? first->second : nullptr;
    Node* b =
        second != secondNodes.end() && !less(entry.first, second->first) ? second->second : nullptr;
    if (a != nullptr || b != nullptr) visit(entry, a, b);
  }
}

}  // namespace orbel::device
