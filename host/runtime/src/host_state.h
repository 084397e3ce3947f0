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

class FBComponent;
class FBLibraryBase;

namespace fbhost_internal {

struct ComponentTable {
  std::mutex lock;
  std::unordered_set<const FBComponent*> live;  // for FBGetFBObject
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
