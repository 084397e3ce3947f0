// host_state.h: process-wide host state shared by the host's own sources.
//
// Private to libfbsdk. Every piece lives in a never-destroyed object, so that
// plug-in statics destroyed at process exit may still reach the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "node_pool.h"

class FBComponent;
class FBLibraryBase;

namespace fbhost_internal {

struct ComponentTable {
  std::mutex lock;
  // Every component made adds a node: they come from a pool under the lock
  // rather than one heap block each (a stage's bind makes thousands).
  NodePool nodes;
  PooledSet<const FBComponent*> live{PoolAllocator<const FBComponent*>(nodes)};  // FBGetFBObject
  std::atomic<std::int64_t> liveCount{0};
  std::atomic<std::int64_t> outstandingAllocations{0};
};
ComponentTable& Components();

struct LibraryTable {
  std::mutex lock;
  std::vector<FBLibraryBase*> libraries;  // announced library objects, construction order
};
LibraryTable& Libraries();

}  // namespace fbhost_internal
